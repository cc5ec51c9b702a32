// Linux: standard error is a terminal when descriptor 2 is one.
#include "usertext/progress_line.h"

#include <unistd.h>

bool UtStderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
