#include "runner/diagnostic.h"

#include <atomic>
#include <cstdarg>

#include "base/format.h"
#include "base/pool.h"
#include "usertext/ut_out.h"

namespace {
std::atomic<bool> g_use_stderr{false};
}  // namespace

void set_use_stderr(bool on) { g_use_stderr.store(on, std::memory_order_relaxed); }
bool use_stderr() { return g_use_stderr.load(std::memory_order_relaxed); }

void diag_write(const char16_t* format, ...) {
  if (!use_stderr()) return;
  kd_mp_c pool;
  va_list args;
  va_start(args, format);
  const char16_t* line = TextFormatPoolV(&pool, format, args);
  va_end(args);
  if (line) UtReport(line);
}
