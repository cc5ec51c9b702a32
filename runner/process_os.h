// The child process object's fields and the platform layer under it. runner/process.cpp holds
// the portable object (table, counts, setters, waiting); runner/win32/process.cpp and
// runner/posix/process.cpp start, wait for and end the child. Nothing outside the child process
// module needs this header.
#pragma once
#include <atomic>
#include <cstdint>

#include "base/pool.h"
#include "base/thread.h"
#include "runner/process.h"

// The object behind a process_t from create_process (its table pointer comes first).
struct child_process_t : process_t {
  kd_mp_c pool;  // every string the object keeps
  std::atomic<uint32_t> references;
  std::atomic<uint32_t> holders;  // the memory goes when this drops to 0
  err_t error;                    // the first error recorded
  bool no_window;
  uint32_t process_id;  // 0 until started
  uint32_t exit_code;
  file_handle_t std_handles[3];  // private duplicates; kNoHandle when unset
  file_handle_t process_handle;  // Windows: process handle; Linux: pidfd (kNoHandle if none)
  environment_t environment;
  char16_t* directory;  // full path, or null to inherit
  char16_t* user;
  char16_t* domain;
  char16_t* password;
  std::atomic<bool> ended;  // a wait saw the end; exit_code is valid
  bool killed;              // kill was sent
  light_lock_t reap_lock;   // Linux: one thread collects the child's end
};

// The system part of a standard-handle setter: a private, non-inheritable duplicate of `handle`
// in *copy, or kNoHandle when `handle` is none, or when it is this process's own current
// handle for `stream` and cannot be duplicated. Otherwise the system's error.
err_t os_duplicate_standard_handle(file_handle_t handle, int stream, file_handle_t* copy);

// What separates the elements of the search path ("PATH").
char16_t os_search_path_separator();

// Starts the child: `program` is the resolved full path, `argv` the vector as given and
// `command_line` the quoted line with the program as argument 0. On success fills
// process_handle and process_id. Unset standard handles may be filled in (with the null
// device); the caller closes all three afterwards either way.
err_t os_launch_child(child_process_t* child, const char16_t* program, const char16_t* const* argv,
                      char16_t* command_line);

// Something a wait can be woken by from another thread: set once, never reset.
struct os_wake_t;
// Null when the system has none to give.
os_wake_t* os_wake_create();
void os_wake_set(os_wake_t* wake);
void os_wake_destroy(os_wake_t* wake);

// Waits up to `timeout_ms` (kWaitForever: no limit) for the started child to end, or for
// `wake` (may be null) to be set. True when the child has ended: `ended` and `exit_code` are
// then set. False on time-out, wake-up or interruption.
bool os_wait_child(child_process_t* child, os_wake_t* wake, uint32_t timeout_ms);

// Ends the started child (exit code 0xFFFFFFFF); nothing once it has ended.
void os_kill_child(child_process_t* child);

// Closes the process handle (release).
void os_close_child(child_process_t* child);
