// The platform layer under base/thread.cpp: kernel events, threads, a short process-wide
// mutex, the tick counter and the raw fatal exit. base/win32/thread.cpp and
// base/posix/thread.cpp implement it; nothing outside the thread module should need it.
#pragma once
#include <cstdint>

// The 32-bit tick counter widened to 64 bits by counting its wraps (the fallback where the
// system has no 64-bit tick count). `tick` is the counter just read; safe from any thread.
uint64_t widen_tick_count(uint32_t tick);
// The pure step behind it: `last` is the newest widened value, `tick` a fresh 32-bit reading.
// A reading a little behind `last` (another thread got in first) gives `last` back; a `last`
// of 0 means no reading yet.
uint64_t widen_tick_step(uint64_t last, uint32_t tick);
