// Opening FILE for the commands that look at an image through its reader (info, verify):
// a plain image, a container with its parts, or a runner carrying one.
#pragma once
#include <string>

#include "image/iso_reader.h"
#include "tools/tool.h"

namespace tool {

// On success returns kExitOk with *reader (destroy it) and *kind ("IsoDd" or "CisoReader");
// otherwise prints the failure and returns kExitFailure.
int OpenReader(const Invocation& inv, const std::string& path, IsoReader** reader,
               const char** kind);

}  // namespace tool
