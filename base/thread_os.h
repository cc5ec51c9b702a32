// The platform layer under base/thread.cpp: kernel events, threads, the runtime's short mutex,
// the tick counter and the raw fatal exit. base/win32/thread.cpp and base/posix/thread.cpp
// implement it; nothing outside the thread module should need it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"

// An auto-reset event: a wait consumes one set. Events are never destroyed, so a late set on
// an event that has gone back to a cache is harmless (every waiter re-checks its condition).
struct os_event_t;
// A new clear event, or null when the system has none to give.
os_event_t* os_event_create();
void os_event_set(os_event_t* event);
void os_event_reset(os_event_t* event);
// True when the event was set within `timeout_ms` (kWaitForever for no limit). May also return
// true for a set meant for an earlier user of the event.
bool os_event_wait(os_event_t* event, uint32_t timeout_ms);

// A thread started with a stack of `stack_reserve` bytes reserved.
struct os_thread_t;
err_t os_thread_start(void (*entry)(void* argument), void* argument, uint32_t stack_reserve,
                      os_thread_t** thread);
// Waits until the thread has ended and releases it.
void os_thread_join(os_thread_t* thread);
// Raises the calling thread to the highest normal priority (where the system allows it).
void os_thread_raise_priority();
// A value that no other live thread shares: non-zero, with its lowest bit clear.
uintptr_t os_thread_self();

// The runtime's own mutex, held only for a few instructions (the event cache, thread records).
void os_runtime_mutex_lock();
void os_runtime_mutex_unlock();

// One write of `length` bytes to standard output, unbuffered.
void os_write_stdout(const char* text, size_t length);
// Ends the process with exit code 255 at once, stopping in an attached debugger first.
[[noreturn]] void os_fatal_exit();

// The 32-bit tick counter widened to 64 bits by counting its wraps (the fallback where the
// system has no 64-bit tick count). `tick` is the counter just read; safe from any thread.
uint64_t widen_tick_count(uint32_t tick);
// The pure step behind it: `last` is the newest widened value, `tick` a fresh 32-bit reading.
// A reading a little behind `last` (another thread got in first) gives `last` back; a `last`
// of 0 means no reading yet.
uint64_t widen_tick_step(uint64_t last, uint32_t tick);
