// The runner's diagnostic lines ("error 11 mounting media, ..."): formatted with the program's
// formatter and written to standard error only when the use_stderr option is on.
#pragma once

// The process-wide use_stderr option; off until the runner reads its options.
void set_use_stderr(bool on);
bool use_stderr();

// Formats one diagnostic line (the printf-style format of base/format.h) and writes it to
// standard error when use_stderr is on; otherwise drops it.
void diag_write(const char16_t* format, ...);
