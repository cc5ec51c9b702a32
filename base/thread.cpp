#include "base/thread.h"

#include <atomic>
#include <cstdlib>

#include "base/thread_os.h"

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

void runtime_shutdown() {}
