// Small stand-ins for three pieces of the C++ run-time: the no-throw allocation operators, the
// deallocation operators and the guards of function-local statics. The toolchain's own versions
// pull in exception handling and a POSIX threads layer (some 70 KiB) that a program which throws
// nothing never uses; the Windows runner has a size budget. Every program of the build links
// these, so all of them allocate and guard the same way.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// A guard is 64 bits: byte 0 says "initialised" (the compiler tests it inline), the second
// 32-bit word is the lock of the thread that runs the initialiser. Waiting for another thread's
// initialiser is rare and short, so a waiter yields its time slice rather than keeping an event.
namespace {
volatile LONG* GuardLock(uint64_t* guard) { return reinterpret_cast<volatile LONG*>(guard) + 1; }
bool GuardDone(uint64_t* guard) {
  return __atomic_load_n(reinterpret_cast<uint8_t*>(guard), __ATOMIC_ACQUIRE) != 0;
}
}  // namespace

extern "C" int __cxa_guard_acquire(uint64_t* guard) {
  if (GuardDone(guard)) return 0;
  while (InterlockedCompareExchange(GuardLock(guard), 1, 0) != 0) SwitchToThread();
  if (GuardDone(guard)) {
    InterlockedExchange(GuardLock(guard), 0);
    return 0;
  }
  return 1;  // the caller runs the initialiser, then releases
}

extern "C" void __cxa_guard_release(uint64_t* guard) {
  __atomic_store_n(reinterpret_cast<uint8_t*>(guard), 1, __ATOMIC_RELEASE);
  InterlockedExchange(GuardLock(guard), 0);
}

extern "C" void __cxa_guard_abort(uint64_t* guard) { InterlockedExchange(GuardLock(guard), 0); }
