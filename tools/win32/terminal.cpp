#include <io.h>

#include "tools/progress.h"

bool tool::StderrIsTerminal() { return _isatty(2) != 0; }
