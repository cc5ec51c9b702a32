// The few things `isorun sfx` asks of the host that differ by platform: where the running
// isorun program lies, and the execute bit of a file it made.
#pragma once
#include <string>

namespace tool {

// The folder holding the running isorun program, in the system's own path form; empty when
// it cannot be found.
std::string ProgramDirectory();

// Lets everyone who may read the file also run it (Linux); nothing to do on Windows.
bool MarkExecutable(const std::string& path);

}  // namespace tool
