// Windows: standard error is a terminal when its handle is a console.
#include "usertext/progress_line.h"

#include <windows.h>

bool UtStderrIsTerminal() {
  DWORD mode;
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}
