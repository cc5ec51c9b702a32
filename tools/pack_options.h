// The packing options `isorun pack` and `isorun sfx` share: their names, help and defaults in
// one list, and one reader from a command line into ciso::PackOptions.
#pragma once
#include <vector>

#include "pack/packer.h"
#include "tools/tool.h"

namespace tool {

// `own` followed by --compression, --level, --hash, --block-size, --threads and --locator.
std::vector<Option> WithPackOptions(std::vector<Option> own);

// Reads those options and --split (when the command has it) into `o`; returns kExitOk or a
// usage error.
int ReadPackOptions(const Invocation& inv, ciso::PackOptions* o);

// Whether any option of the shared list was given.
bool HasPackOptions(const Invocation& inv);

}  // namespace tool
