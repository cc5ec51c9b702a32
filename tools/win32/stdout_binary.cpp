#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "tools/media_paths.h"

namespace tool {

void SetStdoutBinary() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace tool
