// The child process object: starts one program with an argument vector, optionally with its own
// environment, working directory, standard handles or another user's credentials, and lets its
// owner wait for it, read its exit code or end it.
//
// The object is reached only through a table of functions, whose pointer is the object's first
// member, so that other implementations of the same table can stand in for it. Settings are
// gathered first; the first one that fails is kept as the object's error, makes every later
// setter a no-op and is what launch returns. Also here: the pieces of the launch that are plain
// text work (the command-line quoting rules, for the standard parser and for batch files, the
// sorted environment, the credentials split and the program search), shared with the runner's
// messages and open to tests.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "base/file.h"

class malloc_i;
class pin_i;

struct process_i;

// What every implementation's object begins with.
struct process_t {
  const process_i* table;
};

// The operations, in their fixed slot order. Each takes the object it was reached through.
struct process_i {
  // Owners: add_ref adds one; release drops one and frees the object with the last.
  void (*add_ref)(process_t* process);
  void (*release)(process_t* process);
  // Start the child without a console window.
  void (*set_no_window)(process_t* process, bool no_window);
  // Replaces the whole environment by the NAME=value strings of a null-terminated list.
  void (*set_environment)(process_t* process, const char16_t* const* strings);
  // Sets one variable (name and value, or NAME=value and null) in the child's environment,
  // starting from a copy of this process's own; an empty value removes it.
  void (*set_environment_variable)(process_t* process, const char16_t* name, const char16_t* value);
  // The child's working directory; null or empty: this process's current directory.
  void (*set_directory)(process_t* process, const char16_t* path);
  // Standard handles for the child: a private duplicate of `handle` is kept; none (0 or -1 on
  // Windows, -1 on Linux) leaves that handle unset.
  void (*set_stdin)(process_t* process, file_handle_t handle);
  void (*set_stdout)(process_t* process, file_handle_t handle);
  void (*set_stderr)(process_t* process, file_handle_t handle);
  // Run as another user: "name", "domain\name", "domain/name" or "name@domain".
  void (*set_logon)(process_t* process, const char16_t* user, const char16_t* password);
  // Starts the program named by argv[0] with the null-terminated argument vector.
  err_t (*launch)(process_t* process, const char16_t* const* argv);
  // The child's process id; 0 before it started.
  uint32_t (*child_id)(process_t* process);
  // Ends a started child with exit code 0xFFFFFFFF.
  void (*kill)(process_t* process);
  // Waits until the child ends (true), `abort` (may be null) triggers, or `timeout_ms` passes
  // (false). Above 0x7FFFFFFE there is no time limit. True at once when it never started.
  bool (*wait_for)(process_t* process, pin_i* abort, uint32_t timeout_ms);
  // Waits without limit and returns the child's exit code (0 when it never started).
  uint32_t (*wait_exit)(process_t* process);
};

static_assert(offsetof(process_t, table) == 0);
static_assert(offsetof(process_i, add_ref) == 0 * sizeof(void*));
static_assert(offsetof(process_i, release) == 1 * sizeof(void*));
static_assert(offsetof(process_i, set_no_window) == 2 * sizeof(void*));
static_assert(offsetof(process_i, set_environment) == 3 * sizeof(void*));
static_assert(offsetof(process_i, set_environment_variable) == 4 * sizeof(void*));
static_assert(offsetof(process_i, set_directory) == 5 * sizeof(void*));
static_assert(offsetof(process_i, set_stdin) == 6 * sizeof(void*));
static_assert(offsetof(process_i, set_stdout) == 7 * sizeof(void*));
static_assert(offsetof(process_i, set_stderr) == 8 * sizeof(void*));
static_assert(offsetof(process_i, set_logon) == 9 * sizeof(void*));
static_assert(offsetof(process_i, launch) == 10 * sizeof(void*));
static_assert(offsetof(process_i, child_id) == 11 * sizeof(void*));
static_assert(offsetof(process_i, kill) == 12 * sizeof(void*));
static_assert(offsetof(process_i, wait_for) == 13 * sizeof(void*));
static_assert(offsetof(process_i, wait_exit) == 14 * sizeof(void*));
static_assert(sizeof(process_i) == 15 * sizeof(void*));

// A new child process object with one owner; kErrOutOfMemory (and null) when it cannot be
// allocated.
err_t create_process(process_t** process);

// The exit code a child ended by kill reports.
inline constexpr uint32_t kKilledExitCode = 0xFFFFFFFF;

// ---- This process's standard handles ----

enum : int { kStdInput = 0, kStdOutput = 1, kStdError = 2 };
// The handle the system gives this process for the stream now (none when it has none).
file_handle_t current_standard_handle(int stream);

// ---- The pieces of the launch that are plain text ----

// The command line for an argument vector: each argument quoted so that the standard Windows
// parser gives it back unchanged, joined with single spaces. `program`, when given, stands in
// for argv[0]; argument 0 is always quoted and otherwise written as it is (the parser takes it by
// the program-name rule, which escapes nothing, so it cannot carry a quote). Null when the pool
// fails.
char16_t* build_command_line(malloc_i* pool, const char16_t* const* argv, const char16_t* program);

// True when the system would run `program` (a path) through cmd.exe: a batch file, its
// extension .bat or .cmd in any case. What the system ignores in a name is ignored here too
// (a stream suffix, trailing dots and spaces), and so is anything after the extension's
// first three letters, so no batch file passes for another program.
bool is_batch_file(const char16_t* program);

// The command line that has cmd.exe (`interpreter`, its full path) run the batch file `program`
// with argv[1..], each quoted: "interpreter" /d /s /c ""program" "arg" ...". Inside the quotes
// cmd.exe takes & | < > ^ ( ) and spaces literally; a quote, % or ! (which it acts on even there)
// or a control character in an argument or the program's path gives kErrInvalidParameter. /d keeps
// the registry's AutoRun commands out. kErrOutOfMemory when the pool fails.
err_t build_batch_command_line(malloc_i* pool, const char16_t* interpreter, const char16_t* program,
                               const char16_t* const* argv, char16_t** line);

// An environment: NAME=value strings sorted by name with ASCII letters compared as upper case,
// followed by a null entry. Names end at the first '=' after their first character, so the
// hidden "=C:=C:\dir" entries of Windows keep their names. `entries` null means "not set".
struct environment_t {
  char16_t** entries;
  size_t count;
  size_t capacity;
};
// Makes `environment` set and empty (kErrOutOfMemory when the pool fails).
err_t environment_clear(malloc_i* pool, environment_t* environment);
// Sets the variable: entry = name, '=' (unless name holds one after its first character), value. An
// entry with an empty value removes the name. kErrOutOfMemory when the pool fails,
// kErrInvalidParameter for a null or empty name.
err_t environment_put(malloc_i* pool, environment_t* environment, const char16_t* name,
                      const char16_t* value);
// The value of a variable, or null.
const char16_t* environment_get(const environment_t* environment, const char16_t* name);

// Splits a logon name: "domain\user" and "domain/user", "user@domain", or a bare user in the
// computer's own domain. kErrOutOfMemory when the pool fails.
err_t split_logon(malloc_i* pool, const char16_t* logon, char16_t** user, char16_t** domain);

// Finds the program argv[0] names, as a full path of an existing file that is no directory, under
// this program's own directory, then the first current directory, then each element of
// `search_path` (separated by the platform's list separator; null: none). kErrFileNotFound when
// none is found.
err_t resolve_program(malloc_i* pool, const char16_t* name, const char16_t* search_path,
                      char16_t** program);
