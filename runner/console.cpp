#include "runner/console.h"

#include <atomic>

#include "base/thread.h"

namespace {

std::atomic<bool> g_installed{false};
// Held while an event triggers the pin, so the exit-time step can wait for it.
light_lock_t g_console_lock;
bool g_stopping = false;  // under g_console_lock
pin_link_t g_interrupt_link;

bool IsHandledEvent(uint32_t event) {
  switch (event) {
    case kConsoleCtrlC:
    case kConsoleCtrlBreak:
    case kConsoleClose:
    case kConsoleLogoff:
    case kConsoleShutdown: return true;
    default: return false;
  }
}

void OnInterrupt(pin_link_t*) { os_console_interrupted(); }

void OnProcessExit(void*) { console_stop_interrupts(); }

}  // namespace

bool console_control_event(uint32_t event) {
  if (!IsHandledEvent(event)) return false;
  light_guard_c guard(g_console_lock);
  if (!g_stopping) process_pin(kPinInterrupt)->trigger();
  return true;
}

void console_stop_interrupts() {
  light_guard_c guard(g_console_lock);
  g_stopping = true;
}

void console_setup() {
  if (g_installed.exchange(true)) return;
  at_process_exit(OnProcessExit, nullptr);
  process_pin(kPinInterrupt)->attach(OnInterrupt, &g_interrupt_link);
  os_console_install();
}
