#include "base/thread.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/format.h"
#include "base/thread_os.h"

namespace {
// A thread's tag in a light lock: odd, so it never equals a (even) waiter record address.
uintptr_t SelfTag() { return os_thread_self() | 1; }
}  // namespace

// ---- Fatal assertion -----------------------------------------------------------------------

void fatal_assertion(const char* source_path, int line, const char* message) {
  const char* name = source_path ? source_path : "";
  if (const char* slash = std::strrchr(name, '/')) name = slash + 1;
  char text[200];
  // The program's own formatter: the C library's printf family would add its own weight.
  size_t length = TextFormat8(text, sizeof text, "ASSERT: %s:%i%s%s%s\n", name, line,
                              message ? " \"" : "", message ? message : "", message ? "\"" : "");
  if (length >= sizeof text) {
    length = std::strlen(text);  // the formatter cuts between whole characters
    text[length - 1] = '\n';     // a cut line still ends its line
  }
  os_write_stdout(text, length);
  os_fatal_exit();
}

// ---- Wait events ---------------------------------------------------------------------------

namespace {
// A cached event, lent to one thread for the length of one wait (or one parked worker's life).
struct WaitEvent {
  os_event_t* event;
  WaitEvent* next;
};

WaitEvent* g_free_events = nullptr;  // guarded by the runtime mutex

WaitEvent* TakeWaitEvent() {
  for (;;) {
    os_runtime_mutex_lock();
    WaitEvent* cached = g_free_events;
    if (cached) g_free_events = cached->next;
    os_runtime_mutex_unlock();
    if (cached) return cached;
    auto* fresh = static_cast<WaitEvent*>(std::malloc(sizeof(WaitEvent)));
    if (fresh && (fresh->event = os_event_create())) return fresh;
    std::free(fresh);
    // Out of memory or handles: a waiter has no way to fail, so it tries again shortly.
    sleep_ms(1);
  }
}

void ReturnWaitEvent(WaitEvent* wait) {
  os_event_reset(wait->event);
  os_runtime_mutex_lock();
  wait->next = g_free_events;
  g_free_events = wait;
  os_runtime_mutex_unlock();
}

// Sleeps on `event` until `done` reads true; spurious or stale sets only cost another look.
template <typename Done>
void SleepUntil(os_event_t* event, Done done) {
  while (!done()) os_event_wait(event, kWaitForever);
}
}  // namespace

// ---- Light lock ----------------------------------------------------------------------------

namespace {
// A queued thread, on its own stack. Records are at least 8-aligned, so their addresses are
// even and never equal a thread tag.
struct alignas(8) LockWaiter {
  std::atomic<uintptr_t> next;  // the next older waiter, or the holder's tag for the oldest
  uintptr_t tag;
  os_event_t* event;
  std::atomic<uint32_t> granted;
};
}  // namespace

void light_lock_t::lock() {
  uintptr_t self = SelfTag();
  uintptr_t head = 0;
  if (chain.compare_exchange_strong(head, self, std::memory_order_acquire)) {
    owner.store(self, std::memory_order_relaxed);
    return;
  }
  FATAL_ASSERT(owner.load(std::memory_order_relaxed) != self, "light lock taken twice");
  WaitEvent* wait = TakeWaitEvent();
  LockWaiter waiter;
  waiter.tag = self;
  waiter.event = wait->event;
  waiter.granted.store(0, std::memory_order_relaxed);
  for (;;) {
    if (head == 0) {  // freed meanwhile: take it directly
      if (chain.compare_exchange_weak(head, self, std::memory_order_acquire)) {
        ReturnWaitEvent(wait);
        owner.store(self, std::memory_order_relaxed);
        return;
      }
      continue;
    }
    waiter.next.store(head, std::memory_order_relaxed);
    if (chain.compare_exchange_weak(head, reinterpret_cast<uintptr_t>(&waiter),
                                    std::memory_order_release, std::memory_order_relaxed))
      break;
  }
  SleepUntil(waiter.event, [&] { return waiter.granted.load(std::memory_order_acquire) != 0; });
  ReturnWaitEvent(wait);
  owner.store(self, std::memory_order_relaxed);
}

void light_lock_t::unlock() {
  uintptr_t self = SelfTag();
  FATAL_ASSERT(owner.load(std::memory_order_relaxed) == self, "light lock not held");
  owner.store(0, std::memory_order_relaxed);
  uintptr_t head = self;
  if (chain.compare_exchange_strong(head, 0, std::memory_order_release, std::memory_order_relaxed))
    return;
  for (;;) {
    head = chain.load(std::memory_order_acquire);
    // The oldest waiter is the one whose next is our tag; only the holder changes those links.
    LockWaiter* newer = nullptr;
    auto* oldest = reinterpret_cast<LockWaiter*>(head);
    for (uintptr_t next; (next = oldest->next.load(std::memory_order_relaxed)) != self;) {
      newer = oldest;
      oldest = reinterpret_cast<LockWaiter*>(next);
    }
    if (newer) {
      newer->next.store(oldest->tag, std::memory_order_relaxed);
    } else if (!chain.compare_exchange_strong(head, oldest->tag, std::memory_order_acq_rel)) {
      continue;  // a newer waiter queued meanwhile: walk again
    }
    // After `granted` the waiter may return and its record vanish; keep only the event.
    os_event_t* event = oldest->event;
    oldest->granted.store(1, std::memory_order_release);
    os_event_set(event);
    return;
  }
}

// ---- Pins ----------------------------------------------------------------------------------

void kdsync_pin_c::trigger() { RunCallbacks(1); }

void kdsync_pin_c::fire() { RunCallbacks(0); }

void kdsync_pin_c::RunCallbacks(uint32_t triggered_after) {
  pin_link_t* in_order = nullptr;
  {
    light_guard_c guard(lock_);
    triggered_.store(triggered_after, std::memory_order_release);
    // Detach everything, reversing the newest-first list into attach order.
    for (pin_link_t* link = head_; link;) {
      pin_link_t* older = link->next;
      link->back = nullptr;
      link->next = in_order;
      in_order = link;
      link = older;
    }
    head_ = nullptr;
  }
  while (in_order) {
    pin_link_t* link = in_order;
    in_order = link->next;  // read first: the callback may end the link's life
    link->callback(link);
  }
}

bool kdsync_pin_c::attach(pin_callback_t callback, pin_link_t* link) {
  light_guard_c guard(lock_);
  if (triggered_.load(std::memory_order_relaxed)) return false;
  link->callback = callback;
  link->next = head_;
  link->back = &head_;
  if (head_) head_->back = &link->next;
  head_ = link;
  return true;
}

bool kdsync_pin_c::detach(pin_link_t* link) {
  light_guard_c guard(lock_);
  if (!link->back) return false;
  *link->back = link->next;
  if (link->next) link->next->back = link->back;
  link->back = nullptr;
  link->next = nullptr;
  return true;
}

uint32_t kdsync_pin_c::triggered() { return triggered_.load(std::memory_order_acquire); }

namespace {
constinit kdsync_pin_c g_process_pins[kProcessPinCount];
}  // namespace

pin_i* process_pin(uint32_t number) {
  return &g_process_pins[number < kProcessPinCount ? number : kProcessPinCount - 1];
}

// ---- Waiting on pins -----------------------------------------------------------------------

namespace {
struct PinWaiter {
  os_event_t* event;
  std::atomic<uint32_t> callbacks_done;
};

struct PinWaitLink : pin_link_t {
  PinWaiter* waiter;
};

void WakePinWaiter(pin_link_t* link) {
  PinWaiter* waiter = static_cast<PinWaitLink*>(link)->waiter;
  os_event_t* event = waiter->event;
  // The last touch of the waiter's records: once it counts, the waiter may return.
  waiter->callbacks_done.fetch_add(1, std::memory_order_release);
  os_event_set(event);
}

// Sleeps until a callback has run or `timeout_ms` has passed.
void SleepUntilWoken(PinWaiter& waiter, uint32_t timeout_ms) {
  uint64_t deadline = timeout_ms == kWaitForever ? 0 : monotonic_ms() + timeout_ms;
  while (waiter.callbacks_done.load(std::memory_order_acquire) == 0) {
    uint32_t wait_ms = kWaitForever;
    if (deadline) {
      uint64_t now = monotonic_ms();
      if (now >= deadline) return;
      wait_ms = static_cast<uint32_t>(deadline - now);
    }
    os_event_wait(waiter.event, wait_ms);
  }
}
}  // namespace

err_t pin_wait(pin_i* pin, uint32_t timeout_ms, pin_i* other) {
  if (!pin) return kErrInvalidParameter;
  pin_i* pins[2] = {pin, other};
  PinWaitLink links[2] = {};
  bool attached[2] = {false, false};
  WaitEvent* wait = TakeWaitEvent();
  PinWaiter waiter{wait->event, {0}};
  bool already = false;
  for (int i = 0; i < 2 && pins[i] && !already; ++i) {
    links[i].waiter = &waiter;
    attached[i] = pins[i]->attach(WakePinWaiter, &links[i]);
    already = !attached[i];
  }
  if (!already) SleepUntilWoken(waiter, timeout_ms);
  // A link that cannot be detached has been taken to run: wait until its callback is done
  // with our records before they go out of scope.
  uint32_t running = 0;
  for (int i = 0; i < 2; ++i)
    if (attached[i] && !pins[i]->detach(&links[i])) ++running;
  SleepUntil(waiter.event,
             [&] { return waiter.callbacks_done.load(std::memory_order_acquire) >= running; });
  ReturnWaitEvent(wait);
  return already || running ? kOk : kErrTimeout;
}

// ---- Runtime threads -----------------------------------------------------------------------

namespace {
using ThreadBody = void (*)(void (*function)(void*), void* argument);

// One thread the runtime started; freed once the thread has been joined.
struct ThreadRecord {
  os_thread_t* thread;
  ThreadBody body;
  void (*function)(void*);
  void* argument;
  std::atomic<uintptr_t> self;  // the thread's os_thread_self, set by the thread itself
  std::atomic<uint32_t> ended;
  ThreadRecord* next;
};

// Guarded by the runtime mutex.
ThreadRecord* g_threads = nullptr;
uint32_t g_threads_started = 0;
std::atomic<uint32_t> g_fail_next_starts{0};

void ThreadMain(void* argument) {
  auto* record = static_cast<ThreadRecord*>(argument);
  record->self.store(os_thread_self(), std::memory_order_relaxed);
  record->body(record->function, record->argument);
  os_thread_raise_priority();  // finish the exit bookkeeping without being held up
  record->ended.store(1, std::memory_order_release);
}

// Unlinks the records that `wanted` picks, under the runtime mutex.
template <typename Wanted>
ThreadRecord* TakeRecords(Wanted wanted) {
  ThreadRecord* taken = nullptr;
  os_runtime_mutex_lock();
  for (ThreadRecord** slot = &g_threads; *slot;) {
    ThreadRecord* record = *slot;
    if (!wanted(record)) {
      slot = &record->next;
      continue;
    }
    *slot = record->next;
    record->next = taken;
    taken = record;
  }
  os_runtime_mutex_unlock();
  return taken;
}

void JoinAndFree(ThreadRecord* records) {
  while (records) {
    ThreadRecord* next = records->next;
    os_thread_join(records->thread);
    std::free(records);
    records = next;
  }
}

bool ConsumeInjectedFailure() {
  uint32_t pending = g_fail_next_starts.load(std::memory_order_relaxed);
  while (pending > 0)
    if (g_fail_next_starts.compare_exchange_weak(pending, pending - 1)) return true;
  return false;
}

err_t StartThread(ThreadBody body, void (*function)(void*), void* argument,
                  uint32_t stack_reserve) {
  JoinAndFree(
      TakeRecords([](ThreadRecord* r) { return r->ended.load(std::memory_order_acquire) != 0; }));
  if (ConsumeInjectedFailure()) return kErrNotEnoughMemory;
  auto* record = static_cast<ThreadRecord*>(std::calloc(1, sizeof(ThreadRecord)));
  if (!record) return kErrNotEnoughMemory;
  record->body = body;
  record->function = function;
  record->argument = argument;
  err_t error = os_thread_start(ThreadMain, record, stack_reserve, &record->thread);
  if (error) {
    std::free(record);
    return error;
  }
  os_runtime_mutex_lock();
  record->next = g_threads;
  g_threads = record;
  ++g_threads_started;
  os_runtime_mutex_unlock();
  return kOk;
}

void RunPlain(void (*function)(void*), void* argument) { function(argument); }
}  // namespace

void ThreadFailNextStarts(uint32_t count) { g_fail_next_starts.store(count); }

// ---- Worker threads ------------------------------------------------------------------------

namespace {
constexpr uint32_t kWorkerStack = 0x20000;

// A parked worker, on its own stack; `handed` is its wake-up: a function, or none to end.
struct IdleWorker {
  void (*function)(void*);
  void* argument;
  IdleWorker* next;
  os_event_t* signal;
  std::atomic<uint32_t> handed;
};

struct WorkerPool {
  light_lock_t lock;
  IdleWorker* idle = nullptr;
  uint32_t idle_count = 0;
  bool stopping = false;
  bool hook_registered = false;
  pin_link_t exit_hook{};
};
constinit WorkerPool g_workers;

void HandOver(IdleWorker* worker, void (*function)(void*), void* argument) {
  worker->function = function;
  worker->argument = argument;
  os_event_t* signal = worker->signal;  // after `handed` the record may vanish
  worker->handed.store(1, std::memory_order_release);
  os_event_set(signal);
}

// The exit hook: from now on workers end instead of parking; the parked ones end now.
void StopWorkers(pin_link_t*) {
  IdleWorker* idle;
  {
    light_guard_c guard(g_workers.lock);
    g_workers.stopping = true;
    idle = g_workers.idle;
    g_workers.idle = nullptr;
    g_workers.idle_count = 0;
  }
  while (idle) {
    IdleWorker* next = idle->next;
    HandOver(idle, nullptr, nullptr);
    idle = next;
  }
}

void WorkerMain(void (*function)(void*), void* argument) {
  WaitEvent* wait = nullptr;
  IdleWorker self{};
  while (function) {
    function(argument);
    if (!wait) wait = TakeWaitEvent();
    {
      light_guard_c guard(g_workers.lock);
      if (g_workers.stopping) break;
      self.function = nullptr;
      self.signal = wait->event;
      self.handed.store(0, std::memory_order_relaxed);
      self.next = g_workers.idle;
      g_workers.idle = &self;
      ++g_workers.idle_count;
    }
    SleepUntil(self.signal, [&] { return self.handed.load(std::memory_order_acquire) != 0; });
    function = self.function;
    argument = self.argument;
  }
  if (wait) ReturnWaitEvent(wait);
}
}  // namespace

err_t run_on_worker(void (*function)(void* argument), void* argument) {
  if (!function) return kErrInvalidParameter;
  bool register_hook = false;
  {
    light_guard_c guard(g_workers.lock);
    if (IdleWorker* worker = g_workers.idle) {
      g_workers.idle = worker->next;
      --g_workers.idle_count;
      HandOver(worker, function, argument);
      return kOk;
    }
    register_hook = !g_workers.hook_registered;
    g_workers.hook_registered = true;
  }
  if (register_hook && !process_pin(kPinShutdown)->attach(StopWorkers, &g_workers.exit_hook)) {
    light_guard_c guard(g_workers.lock);  // shutdown has begun: workers end when done
    g_workers.stopping = true;
  }
  return StartThread(WorkerMain, function, argument, kWorkerStack);
}

// ---- Alarms --------------------------------------------------------------------------------

namespace {
constexpr uint32_t kAlarmStack = 0x40000;
constexpr uint64_t kLongestAlarmWait = 0x7FFFFFFE;
// Where the alarm service reports its fatal start-up failures.
constexpr const char* kAlarmSource = "base\\kdalarm";
constexpr int kAlarmEventLine = 60;
constexpr int kAlarmThreadLine = 220;

struct AlarmService {
  light_lock_t lock;  // the queue and `stopping`
  light_lock_t start_lock;
  std::atomic<bool> started{false};
  rbtree_t queue{};  // by due time, equal times in the order set
  os_event_t* event = nullptr;
  bool stopping = false;
  pin_link_t exit_hook{};
};
constinit AlarmService g_alarms;

alarm_t* AsAlarm(rblink_t* link) { return reinterpret_cast<alarm_t*>(link); }

int CompareDue(const rblink_t* a, const rblink_t* b) {
  uint64_t x = reinterpret_cast<const alarm_t*>(a)->due_ms;
  uint64_t y = reinterpret_cast<const alarm_t*>(b)->due_ms;
  return x < y ? -1 : x > y;
}

// Calls due alarms in order and sleeps until the next one is due; once stopping, calls every
// remaining alarm in due order and ends.
void AlarmMain(void*) {
  g_alarms.lock.lock();
  for (;;) {
    rblink_t* first = rb_first(&g_alarms.queue);
    if (!first && g_alarms.stopping) break;
    uint64_t wait_ms = kWaitForever;
    if (first) {
      alarm_t* alarm = AsAlarm(first);
      uint64_t now = g_alarms.stopping ? UINT64_MAX : monotonic_ms();
      if (alarm->due_ms <= now) {
        rb_remove(&g_alarms.queue, first);
        void (*callback)(alarm_t*) = alarm->callback;
        g_alarms.lock.unlock();
        callback(alarm);
        g_alarms.lock.lock();
        continue;
      }
      if (alarm->due_ms - now <= kLongestAlarmWait) wait_ms = alarm->due_ms - now;
    }
    g_alarms.lock.unlock();
    os_event_wait(g_alarms.event, static_cast<uint32_t>(wait_ms));
    g_alarms.lock.lock();
  }
  g_alarms.lock.unlock();
}

// The exit hook: the alarm thread calls what is left and ends; runtime_shutdown waits for it.
void StopAlarms(pin_link_t*) {
  {
    light_guard_c guard(g_alarms.lock);
    g_alarms.stopping = true;
  }
  os_event_set(g_alarms.event);
}

void StartAlarmService() {
  if (g_alarms.started.load(std::memory_order_acquire)) return;
  light_guard_c guard(g_alarms.start_lock);
  if (g_alarms.started.load(std::memory_order_relaxed)) return;
  g_alarms.event = os_event_create();
  if (!g_alarms.event) fatal_assertion(kAlarmSource, kAlarmEventLine, nullptr);
  if (!process_pin(kPinShutdown)->attach(StopAlarms, &g_alarms.exit_hook)) {
    light_guard_c stop(g_alarms.lock);  // shutdown has begun: alarms run at once
    g_alarms.stopping = true;
  } else if (StartThread(RunPlain, AlarmMain, nullptr, kAlarmStack) != kOk) {
    fatal_assertion(kAlarmSource, kAlarmThreadLine,
                    "Resource exhaustion initializing alarm thread.\n");
  }
  g_alarms.started.store(true, std::memory_order_release);
}
}  // namespace

void alarm_set(alarm_t* alarm, void (*callback)(alarm_t* alarm), uint64_t due_ms) {
  StartAlarmService();
  bool wake = false;
  {
    light_guard_c guard(g_alarms.lock);
    if (!g_alarms.stopping) {
      alarm->callback = callback;
      if (rb_linked(&alarm->link)) {
        if (alarm->due_ms == due_ms) return;
        rb_remove(&g_alarms.queue, &alarm->link);
      }
      alarm->due_ms = due_ms;
      rb_insert(&g_alarms.queue, &alarm->link, CompareDue);
      wake = rb_first(&g_alarms.queue) == &alarm->link;
      callback = nullptr;
    }
  }
  if (callback) callback(alarm);  // stopping: run it here and now
  if (wake) os_event_set(g_alarms.event);
}

bool alarm_cancel(alarm_t* alarm) {
  light_guard_c guard(g_alarms.lock);
  if (!rb_linked(&alarm->link)) return false;
  rb_remove(&g_alarms.queue, &alarm->link);
  return true;
}

// ---- Tick widening -------------------------------------------------------------------------

uint64_t widen_tick_step(uint64_t last, uint32_t tick) {
  if (last == 0) return tick;  // the first reading
  uint32_t last_low = static_cast<uint32_t>(last);
  uint32_t ahead = tick - last_low;  // modulo 2^32
  // Less than half the range ahead is progress (possibly across a wrap); anything else is a
  // reading that lost a race with a newer one and must not move the clock backwards.
  if (ahead < 0x80000000u) return last + ahead;
  return last;
}

uint64_t widen_tick_count(uint32_t tick) {
  static std::atomic<uint64_t> newest{0};
  uint64_t last = newest.load(std::memory_order_acquire);
  for (;;) {
    uint64_t next = widen_tick_step(last, tick);
    if (next == last) return last;
    if (newest.compare_exchange_weak(last, next, std::memory_order_acq_rel)) return next;
  }
}

// ---- Exit callbacks ------------------------------------------------------------------------

namespace {
struct ExitCallback {
  void (*callback)(void* context);
  void* context;
  ExitCallback* next;
};

std::atomic<ExitCallback*> g_exit_callbacks{nullptr};
std::atomic<bool> g_exit_hook_registered{false};

// Runs every registered callback once, newest first. One entry is taken at a time, so a
// callback registered by another one is the newest and runs next. Only this thread pops.
void RunExitCallbacks() {
  ExitCallback* entry = g_exit_callbacks.load(std::memory_order_acquire);
  while (entry) {
    if (!g_exit_callbacks.compare_exchange_weak(entry, entry->next, std::memory_order_acq_rel))
      continue;
    entry->callback(entry->context);
    std::free(entry);
    entry = g_exit_callbacks.load(std::memory_order_acquire);
  }
}
}  // namespace

void at_process_exit(void (*callback)(void* context), void* context) {
  if (!callback) return;
  auto* entry = static_cast<ExitCallback*>(std::malloc(sizeof(ExitCallback)));
  // Without memory the callback is dropped: the process ends and the system reclaims anyway.
  if (!entry) return;
  entry->callback = callback;
  entry->context = context;
  entry->next = g_exit_callbacks.load(std::memory_order_relaxed);
  while (!g_exit_callbacks.compare_exchange_weak(entry->next, entry, std::memory_order_release,
                                                 std::memory_order_relaxed)) {
  }
  if (!g_exit_hook_registered.exchange(true)) std::atexit(RunExitCallbacks);
}

// ---- Runtime shutdown ----------------------------------------------------------------------

void runtime_shutdown() {
  process_pin(kPinShutdown)->trigger();
  // Join until no thread is left: a function still running may start another worker. The
  // caller's own thread, should the runtime have started it, is left alone.
  uintptr_t caller = os_thread_self();
  while (ThreadRecord* records = TakeRecords([caller](ThreadRecord* r) {
           return r->self.load(std::memory_order_relaxed) != caller;
         }))
    JoinAndFree(records);
  process_pin(kPinShutdownDone)->trigger();
}

runtime_counters_t runtime_counters() {
  runtime_counters_t counters{};
  os_runtime_mutex_lock();
  counters.threads_started = g_threads_started;
  for (ThreadRecord* record = g_threads; record; record = record->next)
    if (!record->ended.load(std::memory_order_acquire)) ++counters.threads_running;
  os_runtime_mutex_unlock();
  light_guard_c guard(g_workers.lock);
  counters.idle_workers = g_workers.idle_count;
  return counters;
}
