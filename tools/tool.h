// The host tool's shared pieces: the command table, a small option parser, and the error
// conventions every command follows.
//
// Failures print one line "isorun: COMMAND: MESSAGE (error N)" on standard error and exit 1
// (a script's own failure in scf and usertext is told without a code);
// usage errors print "isorun: COMMAND: MESSAGE" plus a hint and exit 2; --help exits 0.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

#include "base/errors.h"

namespace tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// Parse's answer when it printed --help: the command exits 0 without running.
inline constexpr int kHelpShown = -1;

struct Option {
  const char* name;        // long name without dashes, e.g. "output"
  char short_name;         // e.g. 'o', or 0
  const char* value_name;  // e.g. "FILE"; null for a flag
  const char* help;
};

// A command: its name, a one-line summary, the positional synopsis, its options and its body.
struct Command {
  const char* name;
  const char* summary;
  const char* synopsis;  // e.g. "IMAGE -o OUT"
  std::vector<Option> options;
  int (*run)(const struct Invocation& inv);
  const char* details = nullptr;  // more for --help after the options (exit statuses), or null
};

// What a command was given: options by long name, then the positional arguments.
struct Invocation {
  const Command* command = nullptr;
  std::vector<std::pair<std::string, std::string>> values;  // flags hold ""
  std::vector<std::string> args;

  bool Has(const char* name) const;
  // The option's value, or `fallback` when it was not given.
  std::string Value(const char* name, const std::string& fallback = "") const;
};

// Parses argv (after the command name). Returns kExitOk to go on, kHelpShown, or kExitUsage
// after reporting a usage error.
int Parse(const Command& command, int argc, char** argv, Invocation* out);

// Prints the failure line and returns kExitFailure.
int Fail(const Invocation& inv, err_t code, const std::string& message);
// Prints the usage error and returns kExitUsage.
int UsageError(const Invocation& inv, const std::string& message);

// Parses a whole number, decimal or 0x hexadecimal, up to `max`. False when malformed.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* out);
// Parses sizes such as "4M", "2048", "650MiB", "1G" (powers of 1024). False when malformed.
bool ParseSize(const std::string& text, uint64_t* out);

// Every command, for the dispatcher and `isorun --help` (tools/commands.cpp).
const std::vector<Command>& Commands();

}  // namespace tool
