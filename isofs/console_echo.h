// Turning a console's echo off while a password is typed.
#pragma once
#include <cstdint>

#include "base/file.h"

namespace IsoFs {

// When `input` is a console (terminal) that echoes what is typed, turns echo off, stores the
// mode to restore in *saved and returns true; otherwise returns false and changes nothing.
bool console_echo_off(file_handle_t input, uint64_t* saved);
void console_mode_restore(file_handle_t input, uint64_t saved);

}  // namespace IsoFs
