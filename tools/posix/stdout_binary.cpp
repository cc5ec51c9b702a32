#include "tools/media_paths.h"

namespace tool {

// Standard output carries bytes as they are here.
void SetStdoutBinary() {}

}  // namespace tool
