// Console control handling: keeps the runner alive while its child runs. Ctrl-C, Ctrl-Break,
// closing the console, log-off and shut-down (on Linux SIGINT, SIGHUP and SIGTERM) trigger the
// process-wide interrupt pin instead of ending the runner, which goes on waiting for its child
// (the child, sharing the console, gets the event itself). Before the child has started, the
// pin stops the verify and the extraction, and the runner cleans up without starting it. A Windows
// process without a console gets a hidden signal window, so a close request or the end of the
// session reaches it too.
#pragma once
#include <cstdint>

// Console control events, by their Windows numbers.
enum : uint32_t {
  kConsoleCtrlC = 0,
  kConsoleCtrlBreak = 1,
  kConsoleClose = 2,
  kConsoleLogoff = 5,
  kConsoleShutdown = 6,
};

// Installs the handling once per process (a second call does nothing): the control handler or
// signal handlers, the signal window where there is no console, and the exit-time step after
// which events no longer trigger the interrupt pin.
void console_setup();

// What the handler does with an event: true (handled) for the five events above, after
// triggering the interrupt pin unless the exit-time step has run; false for any other event.
bool console_control_event(uint32_t event);

// The exit-time step: from now on handled events leave the interrupt pin alone. Waits for an
// event being handled on another thread to finish with the pin first.
void console_stop_interrupts();

// ---- The platform half (runner/win32/console.cpp, runner/posix/console.cpp) ----

// Installs the system's handlers; runs once, from console_setup.
void os_console_install();
// The interrupt pin triggered: lets the signal window (if any) end.
void os_console_interrupted();
