// The process's standard output and standard error handles, read from the system on every call
// so that a handle replaced while the program runs is the one used.
#pragma once
#include "base/file.h"

enum class UtStdStream { kOutput, kError };

// The current handle of the stream, or kNoHandle when the process has none.
file_handle_t UtStdHandle(UtStdStream stream);

// The platform's line end as the sinks write it: CR LF on Windows, LF on Linux.
extern const char kUtLineEnd[];
