#include "base/reject.h"

#include <cstdarg>

#include "base/format.h"

namespace {
// Per thread: a reader and its checks run on one thread at a time.
thread_local char t_reason[160];
}  // namespace

err_t Reject(err_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  TextFormat8V(t_reason, sizeof t_reason, format, args);
  va_end(args);
  return code;
}

const char* last_rejection_reason() { return t_reason; }

void clear_rejection_reason() { t_reason[0] = 0; }
