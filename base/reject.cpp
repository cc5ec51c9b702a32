#include "base/reject.h"

#include <cstdarg>

#include "base/format.h"
#include "base/thread.h"
#include "base/thread_os.h"

namespace {
// One text for the process, seen only by the thread that wrote it: readers and volumes run on
// one thread at a time. (A thread_local would pull a TLS emulation of some 36 KiB into the
// Windows runner.)
light_lock_t g_lock;
uintptr_t g_writer = 0;
char g_reason[160];
}  // namespace

err_t Reject(err_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  {
    light_guard_c guard(g_lock);
    g_writer = os_thread_self();
    TextFormat8V(g_reason, sizeof g_reason, format, args);
  }
  va_end(args);
  return code;
}

const char* last_rejection_reason() {
  light_guard_c guard(g_lock);
  return g_writer == os_thread_self() ? g_reason : "";
}

void clear_rejection_reason() {
  light_guard_c guard(g_lock);
  if (g_writer == os_thread_self()) g_reason[0] = 0;
}
