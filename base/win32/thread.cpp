// Windows implementation of the platform layer: clocks.
#include <windows.h>

#include <atomic>

#include "base/thread.h"
#include "base/thread_os.h"

namespace {
using GetTickCount64Fn = ULONGLONG(WINAPI*)();

// kernel32's GetTickCount64, looked up once by name (it is missing before Vista).
GetTickCount64Fn TickCount64() {
  static std::atomic<GetTickCount64Fn> cached{nullptr};
  static std::atomic<bool> looked_up{false};
  if (!looked_up.load(std::memory_order_acquire)) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel32 ? GetProcAddress(kernel32, "GetTickCount64") : nullptr;
    cached.store(reinterpret_cast<GetTickCount64Fn>(reinterpret_cast<void*>(proc)),
                 std::memory_order_relaxed);
    looked_up.store(true, std::memory_order_release);
  }
  return cached.load(std::memory_order_relaxed);
}
}  // namespace

int64_t system_time_now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                              now.dwLowDateTime);
}

uint64_t monotonic_ms() {
  if (GetTickCount64Fn tick64 = TickCount64()) return tick64();
  return widen_tick_count(GetTickCount());
}
