#include <unistd.h>

#include "tools/progress.h"

bool tool::StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
