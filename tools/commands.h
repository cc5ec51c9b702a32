// One factory per command; tools/commands.cpp lists them in the order `isorun --help` shows.
#pragma once
#include "tools/tool.h"

namespace tool {
// Each command's factory is declared here as it is added, e.g. `Command PackCommand();`.
Command PackCommand();
Command InfoCommand();
Command VerifyCommand();
Command LsCommand();
Command CatCommand();
Command SfxCommand();
Command ExtractCommand();
Command ScfCommand();
Command UserTextCommand();
}  // namespace tool
