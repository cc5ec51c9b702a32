// Linux implementation of the platform layer: clocks.
#include <time.h>

#include "base/thread.h"
#include "base/thread_os.h"

namespace {
// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;
}  // namespace

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
