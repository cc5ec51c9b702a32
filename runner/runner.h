// The runner's main flow, from start-up to exit code: read the options and texts, check
// administrator rights when asked, open the program's own file as media, verify and extract
// it, run the embedded program, clean up. Every failure of the runner's own ends in a message
// box and exit code 99.
#pragma once
#include <cstdint>

#include "base/errors.h"
#include "base/file.h"

class malloc_i;

inline constexpr int kExitRunnerFailed = 99;

// The options a build of the runner carries in its resources.
struct RunnerOptions {
  bool use_stderr = false;
  bool require_administrator = false;
  const char16_t* run_exe = nullptr;  // path of the program to run, below the extraction dir
  bool verify_media = false;
  // With verify_media: the verify's progress is shown (a dialog with Skip on Windows, a line
  // on a Linux terminal). Off unless a vendor asks for it.
  bool show_progress = false;
};

// Reads the options in their fixed order (use_stderr, require_administrator, run_exe, verify_media,
// show_progress); a missing or empty option keeps its default ("autorun.exe" for run_exe).
void read_runner_options(malloc_i* pool, RunnerOptions* options);

// "<base name>-<time>": the name of the run's temporary directory, from the program's base name
// and the system time (100 ns units since 1601). Null when the pool fails.
char16_t* runner_temp_name(malloc_i* pool, const char16_t* base_name, int64_t time);

// Names the run's temporary directory may take before the runner gives up.
inline constexpr int kRunDirectoryTries = 16;

// Makes the run's temporary directory below `folder` (made with its parents when missing): new and
// private (create_private_directory), never anything that exists already. The first name tried is
// *path; when something has a name, the next is "<base name>-<time>" with `clock` read again, then
// "<base name>-<time>-<n>", kRunDirectoryTries names in all. On success *path is the directory made
// and *handle holds it; otherwise the last error (kErrFileExists when every name was taken).
err_t create_run_directory(malloc_i* pool, const char16_t* folder, const char16_t* base_name,
                           int64_t (*clock)(), const char16_t** path, file_handle_t* handle);

// The entry point's whole job; argv[argc] is null. Returns the exit code.
int runner_main(int argc, const char16_t* const* argv);

// Ends a run before it began, when the system refused a protection the runner relies on: the
// box names the program and the error; returns kExitRunnerFailed.
int runner_refuse_start(const char16_t* program, err_t error);
