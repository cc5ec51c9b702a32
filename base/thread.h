// Synchronisation and time: the light lock, pins, worker threads, alarms, clocks, exit
// callbacks, runtime shutdown and the fatal assertion.
//
// Everything here blocks on kernel events (futexes on Linux) and never spins. Shared state is
// made on first use; runtime_shutdown stops the worker pool and the alarm service and waits for
// every thread the runtime started. Callbacks of pins and alarms always run outside the locks
// that guard them, so a callback may set alarms or attach to pins.
#pragma once
#include <atomic>
#include <cstdint>

#include "base/errors.h"
#include "base/rbtree.h"

// ---- Time ----------------------------------------------------------------------------------

// Wall-clock time: 100-nanosecond units since 1601-01-01 UTC.
int64_t system_time_now();
// Monotonic milliseconds.
uint64_t monotonic_ms();
// Suspends the calling thread for about `milliseconds`.
void sleep_ms(uint32_t milliseconds);

// A time-out that never ends.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// ---- Light lock ----------------------------------------------------------------------------

// A small fair lock: a thread that finds it held queues itself and sleeps; unlocking hands the
// lock straight to the longest-waiting thread, so waiters get it in arrival order. Not
// recursive: taking it twice on one thread, or unlocking it from a thread that does not hold
// it, is a fatal assertion. Zero-filled is free, so it may live in static storage.
struct light_lock_t {
  std::atomic<uintptr_t> owner{0};  // the holder's thread tag
  // 0 when free; the holder's tag when nobody waits; else the newest waiter record, whose
  // chain of older records ends in the holder's tag.
  std::atomic<uintptr_t> chain{0};

  void lock();
  void unlock();
};

// Holds a light lock for one scope.
class light_guard_c {
 public:
  explicit light_guard_c(light_lock_t& lock) : lock_(lock) { lock_.lock(); }
  ~light_guard_c() { lock_.unlock(); }
  light_guard_c(const light_guard_c&) = delete;
  light_guard_c& operator=(const light_guard_c&) = delete;

 private:
  light_lock_t& lock_;
};

// ---- Pins ----------------------------------------------------------------------------------

struct pin_link_t;
// Called once when the pin the link is attached to triggers or fires. Embed the link in a
// larger record (as base or first member) to reach the caller's own data.
using pin_callback_t = void (*)(pin_link_t* link);

// The caller's record for one attachment. A link whose detach returned false belongs to the pin
// until its callback has returned: do not reuse or free it before then.
struct pin_link_t {
  pin_callback_t callback;
  pin_link_t** back;  // the pointer that points here; null while not attached
  pin_link_t* next;
};

// A pin: an event other code attaches callbacks to and waits on. Slot order is fixed.
class pin_i {
 public:
  // Marks the pin triggered and runs every attached callback, in attach order, once.
  virtual void trigger() = 0;
  // Runs every attached callback like trigger, but leaves (or makes) the pin untriggered.
  virtual void fire() = 0;
  // Attaches a callback; false, and nothing attached, when the pin is already triggered.
  virtual bool attach(pin_callback_t callback, pin_link_t* link) = 0;
  // True when the link was still attached and is now unlinked; false when its callback has
  // been taken to run (it may still be running).
  virtual bool detach(pin_link_t* link) = 0;
  // 1 once triggered, else 0.
  virtual uint32_t triggered() = 0;

 protected:
  ~pin_i() = default;
};

class kdsync_pin_c final : public pin_i {
 public:
  constexpr kdsync_pin_c() = default;
  kdsync_pin_c(const kdsync_pin_c&) = delete;
  kdsync_pin_c& operator=(const kdsync_pin_c&) = delete;

  void trigger() override;
  void fire() override;
  bool attach(pin_callback_t callback, pin_link_t* link) override;
  bool detach(pin_link_t* link) override;
  uint32_t triggered() override;

 private:
  void RunCallbacks(uint32_t triggered_after);

  std::atomic<uint32_t> triggered_{0};
  light_lock_t lock_;
  pin_link_t* head_ = nullptr;  // newest attachment first
};

// The process-wide pins, 0..11; a larger number means 11. Never null.
inline constexpr uint32_t kPinInterrupt = 1;     // Ctrl-C, console close, log-off
inline constexpr uint32_t kPinShutdown = 5;      // runtime shutdown begins
inline constexpr uint32_t kPinShutdownDone = 6;  // every runtime thread has ended
inline constexpr uint32_t kProcessPinCount = 12;
pin_i* process_pin(uint32_t number);

// Waits until `pin` (or `other`, when given) triggers or fires, at most `timeout_ms`
// (kWaitForever for no limit). 0 when it did, or was triggered already; kErrTimeout otherwise.
err_t pin_wait(pin_i* pin, uint32_t timeout_ms, pin_i* other = nullptr);

// ---- Worker threads ------------------------------------------------------------------------

// Runs function(argument) on a worker thread: a parked idle worker when there is one, else a
// new thread with a 128 KiB stack, which parks for reuse when the function returns. Fails only
// when a thread cannot be started.
err_t run_on_worker(void (*function)(void* argument), void* argument);

// ---- Alarms --------------------------------------------------------------------------------

// One time-out. The record is the caller's; it must stay alive while queued and while its
// callback runs. The callback runs once, on the alarm thread, outside every lock.
struct alarm_t {
  rblink_t link;  // first member: the queue's link is the record
  void (*callback)(alarm_t* alarm);
  uint64_t due_ms;  // on the monotonic_ms clock
};

// Queues the alarm at `due_ms`, or moves it there when queued at another time (a queued alarm
// at the same time is left alone). A time already past runs at once on the alarm thread. After
// runtime shutdown began the callback runs at once on the calling thread.
void alarm_set(alarm_t* alarm, void (*callback)(alarm_t* alarm), uint64_t due_ms);
// Unqueues the alarm; true when it was queued (so its callback will not run).
bool alarm_cancel(alarm_t* alarm);

// ---- Process lifetime ----------------------------------------------------------------------

// Stops the worker pool and the alarm service and waits for every thread the runtime started:
// triggers kPinShutdown, waits, then triggers kPinShutdownDone. Call it from a thread the runtime
// did not start (the runner's main thread).
void runtime_shutdown();

// Callbacks run once each, newest first, when the process exits.
void at_process_exit(void (*callback)(void* context), void* context);

// What the runtime's threads are doing, for diagnostics and tests.
struct runtime_counters_t {
  uint32_t threads_started;  // since the process began
  uint32_t threads_running;  // started and not yet ended
  uint32_t idle_workers;     // parked for reuse
};
runtime_counters_t runtime_counters();

// Test hook: makes the next `count` thread starts fail (0 turns it off).
void ThreadFailNextStarts(uint32_t count);

// ---- Fatal assertion -----------------------------------------------------------------------

// Writes "ASSERT: <file>:<line>" (the path after its last '/'), then, with a message,
// ` "<message>"`, and a newline to standard output in one write, and ends the process with
// exit code 255 (stopping in a debugger first, when one is attached).
[[noreturn]] void fatal_assertion(const char* source_path, int line, const char* message);

// Ends the process through fatal_assertion unless `condition` holds; `message` may be null.
#define FATAL_ASSERT(condition, message) \
  ((condition) ? (void)0 : fatal_assertion(__FILE__, __LINE__, (message)))
