// Process-wide facts, computed once on first use and kept until exit: the program's own path
// and names, the computer name, the environment, the current directory and the special folders.
// Returned strings belong to the cache; callers copy them to change them and never free them.
//
// Paths are in the program's own backslash form on every platform (Linux "/tmp" is "\tmp").
// Every function may be called from any thread; a value never changes once it is published.
#pragma once
#include <cstddef>
#include <cstdint>

// Full path of the program's own file, or null when it is unknown or not absolute.
const char16_t* module_path();
// The system's file name of the program's own module ("\_" when unknown).
const char16_t* module_file_name();
// The program's file name without directory and last extension ("_" when unknown).
const char16_t* module_base_name();
// The module file name without its name part; keeps the separator only after a root ("\").
const char16_t* module_directory();
// The computer's name ("." when unknown).
const char16_t* computer_name();
// The current directory at the first call ("\" when unknown).
const char16_t* cached_current_directory();

// The environment at the first call: `count` NAME=value entries in the system's order, as
// UTF-16 and as UTF-8, each array ending with a null entry. Empty when it cannot be read.
struct environment_snapshot_t {
  const char16_t* const* utf16;
  const char* const* utf8;
  size_t count;
};
const environment_snapshot_t& environment_snapshot();

// The special folders, by index 0..20.
inline constexpr int kFolderNone = 0;
inline constexpr int kFolderWindows = 1;
inline constexpr int kFolderSystem = 2;
inline constexpr int kFolderSystemX86 = 3;
inline constexpr int kFolderDrivers = 4;
inline constexpr int kFolderSystemDrive = 5;
inline constexpr int kFolderTemp = 6;
inline constexpr int kFolderProgramFiles = 7;
inline constexpr int kFolderCommonAppData = 8;
inline constexpr int kFolderCommonDesktop = 9;
inline constexpr int kFolderCommonPrograms = 10;
inline constexpr int kFolderCommonStartup = 11;
inline constexpr int kFolderProfile = 12;
inline constexpr int kFolderLocalAppData = 13;
inline constexpr int kFolderAppData = 14;
inline constexpr int kFolderDesktop = 15;
inline constexpr int kFolderPrograms = 16;
inline constexpr int kFolderStartup = 17;
inline constexpr int kFolderUserBinaries = 18;
inline constexpr int kFolderWindowsTemp = 19;
inline constexpr int kFolderUnassigned = 20;
inline constexpr int kFolderCount = 21;

// What a folder that cannot be found reads as: it holds characters no file name may hold, so
// any use of it fails with an invalid-name error instead of touching a real place.
inline constexpr char16_t kInvalidFolderPath[] = u"C:\\.<|>.";

// Special folder by index 0..20 (others mean 0); never null.
const char16_t* special_folder(int index);
