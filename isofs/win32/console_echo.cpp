#include "isofs/console_echo.h"

#include <windows.h>

namespace IsoFs {

bool console_echo_off(file_handle_t input, uint64_t* saved) {
  DWORD mode;
  HANDLE h = reinterpret_cast<HANDLE>(input);
  if (!GetConsoleMode(h, &mode) || !(mode & ENABLE_ECHO_INPUT)) return false;
  *saved = mode;
  SetConsoleMode(h, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT);
  return true;
}

void console_mode_restore(file_handle_t input, uint64_t saved) {
  SetConsoleMode(reinterpret_cast<HANDLE>(input), DWORD(saved));
}

}  // namespace IsoFs
