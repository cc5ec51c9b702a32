#include "isofs/console_echo.h"

#include <termios.h>

namespace IsoFs {

bool console_echo_off(file_handle_t input, uint64_t* saved) {
  termios mode;
  int fd = static_cast<int>(input);
  if (tcgetattr(fd, &mode) != 0 || !(mode.c_lflag & ECHO)) return false;
  *saved = mode.c_lflag;
  mode.c_lflag &= ~tcflag_t(ECHO);
  tcsetattr(fd, TCSAFLUSH, &mode);
  return true;
}

void console_mode_restore(file_handle_t input, uint64_t saved) {
  termios mode;
  int fd = static_cast<int>(input);
  if (tcgetattr(fd, &mode) != 0) return;
  mode.c_lflag = tcflag_t(saved);
  tcsetattr(fd, TCSAFLUSH, &mode);
}

}  // namespace IsoFs
