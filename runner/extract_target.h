// What the system the runner extracts on can hold (runner/<platform>/).
#pragma once
#include <cstdint>

// Whether a name that is safe below a directory can also be created there as it stands:
// Windows refuses what windows_name_is_holdable refuses; Linux holds every such name.
bool system_takes_name(const char16_t* name, uint32_t length);
