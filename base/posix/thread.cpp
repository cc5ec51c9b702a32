// Linux implementation of the platform layer: futex events, pthreads, clocks, the fatal exit.
#include <errno.h>
#include <linux/futex.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "base/thread.h"
#include "base/thread_os.h"

namespace {
// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;

#if defined(__SANITIZE_ADDRESS__)
// Sanitized frames are several times larger; the same code needs more stack.
constexpr uint32_t kStackScale = 4;
#else
constexpr uint32_t kStackScale = 1;
#endif

timespec Milliseconds(uint32_t ms) {
  return timespec{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
}
}  // namespace

// ---- Clocks --------------------------------------------------------------------------------

int64_t system_time_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return kUnixEpochIn100ns + static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

uint64_t monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

void sleep_ms(uint32_t milliseconds) {
  timespec left = Milliseconds(milliseconds);
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// ---- Events: one futex word, 1 when set ----------------------------------------------------

struct os_event_t {
  std::atomic<uint32_t> state;
};
static_assert(sizeof(os_event_t) == sizeof(uint32_t));

os_event_t* os_event_create() {
  auto* event = static_cast<os_event_t*>(calloc(1, sizeof(os_event_t)));
  return event;
}

void os_event_set(os_event_t* event) {
  if (event->state.exchange(1, std::memory_order_release) == 0)
    syscall(SYS_futex, &event->state, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void os_event_reset(os_event_t* event) { event->state.store(0, std::memory_order_relaxed); }

bool os_event_wait(os_event_t* event, uint32_t timeout_ms) {
  uint64_t deadline = timeout_ms == kWaitForever ? 0 : monotonic_ms() + timeout_ms;
  for (;;) {
    if (event->state.exchange(0, std::memory_order_acquire) == 1) return true;
    timespec relative{};
    if (deadline) {
      uint64_t now = monotonic_ms();
      if (now >= deadline) return false;
      relative = Milliseconds(static_cast<uint32_t>(deadline - now));
    }
    // Sleeps only while the word still reads 0; a set in between makes it return at once.
    syscall(SYS_futex, &event->state, FUTEX_WAIT_PRIVATE, 0, deadline ? &relative : nullptr,
            nullptr, 0);
  }
}

// ---- Threads -------------------------------------------------------------------------------

struct os_thread_t {
  pthread_t handle;
  void (*entry)(void*);
  void* argument;
};

namespace {
void* ThreadStart(void* argument) {
  auto* thread = static_cast<os_thread_t*>(argument);
  thread->entry(thread->argument);
  return nullptr;
}
}  // namespace

err_t os_thread_start(void (*entry)(void* argument), void* argument, uint32_t stack_reserve,
                      os_thread_t** thread) {
  *thread = nullptr;
  auto* started = static_cast<os_thread_t*>(calloc(1, sizeof(os_thread_t)));
  if (!started) return kErrNotEnoughMemory;
  started->entry = entry;
  started->argument = argument;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, static_cast<size_t>(stack_reserve) * kStackScale);
  int error = pthread_create(&started->handle, &attributes, ThreadStart, started);
  pthread_attr_destroy(&attributes);
  if (error) {
    free(started);
    return kErrNotEnoughMemory;
  }
  *thread = started;
  return kOk;
}

void os_thread_join(os_thread_t* thread) {
  pthread_join(thread->handle, nullptr);
  free(thread);
}

// Raising a thread above its peers needs privileges on Linux; the scheduler is left alone.
void os_thread_raise_priority() {}

uintptr_t os_thread_self() { return static_cast<uintptr_t>(pthread_self()); }

// ---- Runtime mutex -------------------------------------------------------------------------

namespace {
pthread_mutex_t g_runtime_mutex = PTHREAD_MUTEX_INITIALIZER;
}  // namespace

void os_runtime_mutex_lock() { pthread_mutex_lock(&g_runtime_mutex); }
void os_runtime_mutex_unlock() { pthread_mutex_unlock(&g_runtime_mutex); }

// ---- Fatal exit ----------------------------------------------------------------------------

void os_write_stdout(const char* text, size_t length) {
  while (write(1, text, length) < 0 && errno == EINTR) {
  }
}

void os_fatal_exit() { _exit(255); }
