// Synchronisation and time: the light lock, pins, worker threads, alarms, clocks, exit
// callbacks, runtime shutdown and the fatal assertion.
#pragma once
#include <cstdint>

// Wall-clock time: 100-nanosecond units since 1601-01-01 UTC.
int64_t system_time_now();
// Monotonic milliseconds.
uint64_t monotonic_ms();

// Stops the worker pool and the alarm service and waits for every thread the runtime started.
void runtime_shutdown();

// Callbacks run once each, newest first, when the process exits.
void at_process_exit(void (*callback)(void* context), void* context);

// (Pins, locks, workers and alarms are declared below by their implementation.)
