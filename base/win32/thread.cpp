// Windows implementation of the platform layer: kernel events, threads, clocks, the fatal exit.
#include <windows.h>

#include <atomic>
#include <cstdlib>

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

HANDLE AsHandle(os_event_t* event) { return reinterpret_cast<HANDLE>(event); }
}  // namespace

// ---- Clocks --------------------------------------------------------------------------------

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

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

// ---- Events: kernel auto-reset events, the handle is the pointer ---------------------------

os_event_t* os_event_create() {
  return reinterpret_cast<os_event_t*>(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

void os_event_set(os_event_t* event) { SetEvent(AsHandle(event)); }

void os_event_reset(os_event_t* event) { ResetEvent(AsHandle(event)); }

bool os_event_wait(os_event_t* event, uint32_t timeout_ms) {
  return WaitForSingleObject(AsHandle(event), timeout_ms) == WAIT_OBJECT_0;
}

// ---- Threads -------------------------------------------------------------------------------

struct os_thread_t {
  HANDLE handle;
  void (*entry)(void*);
  void* argument;
};

namespace {
DWORD WINAPI ThreadStart(void* argument) {
  auto* thread = static_cast<os_thread_t*>(argument);
  thread->entry(thread->argument);
  return 0;
}
}  // namespace

err_t os_thread_start(void (*entry)(void* argument), void* argument, uint32_t stack_reserve,
                      os_thread_t** thread) {
  *thread = nullptr;
  auto* started = static_cast<os_thread_t*>(std::calloc(1, sizeof(os_thread_t)));
  if (!started) return kErrNotEnoughMemory;
  started->entry = entry;
  started->argument = argument;
  DWORD id;
  started->handle = CreateThread(nullptr, stack_reserve, ThreadStart, started,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!started->handle) {
    err_t error = GetLastError();
    std::free(started);
    return error ? error : kErrNotEnoughMemory;
  }
  *thread = started;
  return kOk;
}

void os_thread_join(os_thread_t* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  std::free(thread);
}

void os_thread_raise_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

// The thread's environment block: one per live thread, page-aligned. (The header's segment read
// looks like an out-of-bounds access to the compiler.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
uintptr_t os_thread_self() { return reinterpret_cast<uintptr_t>(NtCurrentTeb()); }
#pragma GCC diagnostic pop

// ---- Runtime mutex -------------------------------------------------------------------------

namespace {
SRWLOCK g_runtime_mutex = SRWLOCK_INIT;
}  // namespace

void os_runtime_mutex_lock() { AcquireSRWLockExclusive(&g_runtime_mutex); }
void os_runtime_mutex_unlock() { ReleaseSRWLockExclusive(&g_runtime_mutex); }

// ---- Fatal exit ----------------------------------------------------------------------------

void os_write_stdout(const char* text, size_t length) {
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

void os_fatal_exit() {
  if (IsDebuggerPresent()) DebugBreak();
  TerminateProcess(GetCurrentProcess(), 255);
  ExitProcess(255);
}
