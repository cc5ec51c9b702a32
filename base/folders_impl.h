// Inside the process facts of folders.h: the special-folder table (where each slot's path comes
// from, as data), the resolver that fills a table's slots once, the rules that derive the
// module's names, and the thin platform layer (base/win32/folders.cpp, base/posix/folders.cpp)
// that reads the raw facts from the system. Tests build their own tables over fake readers.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/folders.h"

// Raw facts are read into buffers of this many characters; a value that does not fit, with its
// terminator, counts as missing.
inline constexpr size_t kFactChars = 300;

// ---- Where a folder comes from -------------------------------------------------------------

enum class folder_source_kind : uint8_t {
  kNone,         // end of the row
  kSlot,         // another slot of the same table
  kShell,        // a shell special folder by CSIDL number (created when missing)
  kRegistry,     // a string value of a registry key
  kEnvironment,  // an environment variable, else the same name under the user's "Environment"
  kFixed,        // a fixed path
};

enum class registry_hive : uint8_t { kLocalMachine, kCurrentUser };

struct folder_source_t {
  folder_source_kind kind;
  registry_hive hive;
  int16_t number;            // slot index or CSIDL
  const char16_t* key;       // registry key
  const char16_t* name;      // registry value, environment variable or fixed path
  const char16_t* sub_path;  // joined to the result, or null
};

inline constexpr int kFolderSourcesPerSlot = 4;
struct folder_row_t {
  folder_source_t sources[kFolderSourcesPerSlot];
};

// The folder table of the Windows runner and the one of the Linux flavour.
extern const folder_row_t kWindowsFolderRows[kFolderCount];
extern const folder_row_t kPosixFolderRows[kFolderCount];

// Reads one raw source into buf (cap characters, terminated) and returns its length; 0 when the
// source is missing, empty or does not fit.
class folder_source_reader_i {
 public:
  virtual size_t WindowsDirectory(char16_t* buf, size_t cap) = 0;
  virtual size_t ShellFolder(int csidl, char16_t* buf, size_t cap) = 0;
  // String values only; expandable ones come back expanded.
  virtual size_t RegistryValue(registry_hive hive, const char16_t* key, const char16_t* name,
                               char16_t* buf, size_t cap) = 0;
  virtual size_t Environment(const char16_t* name, char16_t* buf, size_t cap) = 0;

 protected:
  ~folder_source_reader_i() = default;
};

// A folder table: 21 slots, each filled once on first use and never changed. Slots 1 (Windows
// directory) and 5 (its drive root) are filled the first time the table is used at all.
class folder_table_c {
 public:
  folder_table_c(folder_source_reader_i* reader, const folder_row_t* rows)
      : reader_(reader), rows_(rows) {}
  folder_table_c(const folder_table_c&) = delete;
  folder_table_c& operator=(const folder_table_c&) = delete;

  // The folder of a slot (an index outside 0..20 means 0); never null.
  const char16_t* Get(int index);
  // Frees every published path; the table starts over empty.
  void Release();

 private:
  void Initialise();
  const char16_t* Resolve(int slot, uint32_t visiting);
  char16_t* TrySource(const folder_source_t& source, uint32_t visiting);
  size_t ReadRegistry(registry_hive hive, const char16_t* key, const char16_t* name, char16_t* buf);
  const char16_t* Publish(int slot, char16_t* path);

  folder_source_reader_i* reader_;
  const folder_row_t* rows_;
  std::atomic<bool> initialised_{false};
  std::atomic<const char16_t*> slots_[kFolderCount] = {};
};

// ---- Module names from the module file name ------------------------------------------------

// Start and length of the base name: the file name up to its last dot (a leading dot included,
// so ".exe" gives an empty base name). False when the path cannot be split.
bool module_base_name_range(const char16_t* file_name, size_t* start, size_t* length);
// Length of the directory part: the path cut before its name, without the separator before the
// name unless that separator directly follows the root. 0 when there is none.
size_t module_directory_length(const char16_t* file_name);
// True for an absolute path with a non-empty name.
bool is_full_file_path(const char16_t* file_name);

// ---- Environment snapshot ------------------------------------------------------------------

// Receives one NAME=value entry in the system's own coding: exactly one of the two is given.
using environment_entry_fn = void (*)(void* context, const char16_t* wide, const char* narrow);
// Calls `entry` for every entry of an environment, in order.
using environment_enumerator_fn = void (*)(environment_entry_fn entry, void* context);

// Builds a snapshot in one heap block (free it with HeapFree); null when memory runs out. The
// enumerator runs twice (measure, then copy); entries beyond the first pass's measure are left
// out.
environment_snapshot_t* build_environment_snapshot(environment_enumerator_fn enumerate);

// ---- Platform layer ------------------------------------------------------------------------

folder_source_reader_i* platform_folder_reader();
const folder_row_t* platform_folder_rows();
// Each reads into buf (cap characters, terminated) and returns the length; 0 on failure or
// when the value does not fit.
size_t platform_module_file_name(char16_t* buf, size_t cap);
size_t platform_computer_name(char16_t* buf, size_t cap);
size_t platform_current_directory(char16_t* buf, size_t cap);
void platform_environment(environment_entry_fn entry, void* context);
