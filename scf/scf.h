// The SCF command language: the interfaces a host uses to run a script and to add commands.
//
// A parse splits UTF-16 text into statements and words, substituting while it reads, and hands
// each statement to a command object (`scf_key_i`) named by its first word, or runs the value of
// a variable of that name as a procedure. Commands "return" values by emitting output: at the
// top level it reaches the host's `scf_parser_output_i`, inside `${...}` it becomes part of the
// word being read. Every parser starts with the standard commands (scf/commands.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"

// Where a parse sends what it emits. Both take a NUL-terminated UTF-16 text.
class scf_parser_output_i {
 public:
  virtual void out(const char16_t* text) = 0;
  virtual void err(const char16_t* text) = 0;

 protected:
  ~scf_parser_output_i() = default;
};

class scf_parser_i;

// One command. Runs the statement whose words the parser currently holds. Not owned by parsers.
class scf_key_i {
 public:
  virtual void Execute(scf_parser_i* parser) = 0;

 protected:
  ~scf_key_i() = default;
};

// For CheckArgs: no upper bound on the word count.
inline constexpr size_t kScfAnyCount = SIZE_MAX;

// The parser as commands and hosts see it. Lengths of -1 run to the terminator; a null text is
// empty. Word indices count the command name as word 0.
class scf_parser_i {
 public:
  virtual void Release() = 0;
  // Output: captured by the innermost `${...}` or `while` condition being read, otherwise sent
  // to the output interface.
  virtual void Out(const char16_t* text) = 0;
  virtual void OutN(const char16_t* text, ptrdiff_t count) = 0;
  virtual void OutF(const char16_t* format, ...) = 0;
  // Errors go straight to the output interface, never captured.
  virtual void Err(const char16_t* text) = 0;
  virtual void ErrF(const char16_t* format, ...) = 0;
  // The name is not copied: it must outlive the registration.
  virtual err_t AddCommand(const char16_t* name, scf_key_i* command) = 0;
  // Reports a word count outside [minimum, maximum], ends the parse with -1 and returns false.
  virtual bool CheckArgs(size_t minimum, size_t maximum) = 0;
  virtual size_t ArgCount() = 0;
  // Word as NUL-terminated text; null beyond the count.
  virtual const char16_t* Arg(size_t index) = 0;
  // Word without a guaranteed terminator (use with ArgLen); null beyond the count.
  virtual const char16_t* ArgRaw(size_t index) = 0;
  virtual size_t ArgLen(size_t index) = 0;
  // A variable, or a positional word ("0" to "999") of the procedure call; null when undefined.
  virtual const char16_t* GetVar(const char16_t* name) = 0;
  virtual err_t SetVar(const char16_t* name, const char16_t* value) = 0;
  // Sets the variable in the current scope (a procedure's own variables hide outer ones).
  virtual err_t SetVarN(const char16_t* name, ptrdiff_t name_length, const char16_t* value,
                        ptrdiff_t value_length) = 0;
  // Ends the parse: nothing more is read until the running Parse returns.
  virtual void Exit(int32_t value) = 0;
  virtual bool ExitState(int32_t* value) = 0;
  // Runs text in the current frame and variable scope; the exit state stays as it is.
  virtual void Run(const char16_t* text, ptrdiff_t length) = 0;
  // Runs text in a new frame and scope; returns the exit value and clears the exit state.
  virtual int32_t Parse(const char16_t* text, ptrdiff_t length) = 0;

 protected:
  ~scf_parser_i() = default;
};

// Bounds that keep a hostile or runaway script from exhausting the stack, the memory or the
// time of the program that runs it. Hitting one reports an error and ends the parse with -1.
struct ScfLimits {
  uint32_t max_depth;       // nesting of `${...}`, procedure calls, bodies and conditions
  uint64_t max_statements;  // statements dispatched per call from the host
  size_t max_text;          // units of one word or captured output
};

// The defaults: 500 levels take well under 1 MiB of stack even in sanitizer builds; a million
// statements run in about a second, far beyond what localisation data needs; 16 Mi units of
// text are 32 MiB.
inline constexpr ScfLimits kScfDefaultLimits = {500, 1000000, size_t(1) << 24};

// Makes a parser with the standard commands. initial_variables is null or a null-terminated
// list of "name=value" texts (a leading "=" belongs to the name; no "=" gives an empty value).
// output may be null: output and errors are then dropped. limits null means the defaults.
err_t CreateScfParser(scf_parser_output_i* output, const char16_t* const* initial_variables,
                      scf_parser_i** parser, const ScfLimits* limits = nullptr);

// Runs a UTF-8 script (up to length bytes or its first NUL byte) in a fresh parser and stores
// its exit value. Fails only when the parser or the converted text can't be had.
err_t ScfRunUtf8(scf_parser_output_i* output, const char* script, size_t length,
                 int32_t* exit_value, const ScfLimits* limits = nullptr);
