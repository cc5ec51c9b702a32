// Process-wide facts, computed once on first use and kept until exit: the program's own path
// and names, the computer name, the environment, the current directory and the special folders.
// Returned strings belong to the cache; callers copy them to change them and never free them.
#pragma once
#include <cstdint>

// Full path of the program's own file, or null when it is unknown.
const char16_t* module_path();
// The program's file name without directory and last extension ("_" when unknown).
const char16_t* module_base_name();

// Special folder by index 0..20 (others mean 0); never null. 6 is the temporary folder.
inline constexpr int kFolderTemp = 6;
const char16_t* special_folder(int index);
