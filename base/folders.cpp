// Process facts: the caches, their publishing by compare-and-swap, the folder tables and the
// resolver that walks a slot's sources. The system is reached only through the platform layer.
#include <cstring>

#include "base/file.h"
#include "base/folders_impl.h"
#include "base/pool.h"
#include "base/text.h"
#include "base/thread.h"

namespace {

// ---- Folder tables -------------------------------------------------------------------------

constexpr int kCsidlPrograms = 2;
constexpr int kCsidlStartup = 7;
constexpr int kCsidlDesktopDirectory = 16;
constexpr int kCsidlCommonPrograms = 23;
constexpr int kCsidlCommonStartup = 24;
constexpr int kCsidlCommonDesktop = 25;
constexpr int kCsidlAppData = 26;
constexpr int kCsidlLocalAppData = 28;
constexpr int kCsidlCommonAppData = 35;
constexpr int kCsidlSystem = 37;
constexpr int kCsidlProgramFiles = 38;
constexpr int kCsidlProfile = 40;
constexpr int kCsidlSystemX86 = 41;

constexpr char16_t kCurrentVersionKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char16_t kShellFoldersKey[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// The user's key that stands in for a missing environment variable.
constexpr char16_t kUserEnvironmentKey[] = u"Environment";

using kind = folder_source_kind;

constexpr folder_source_t Slot(int slot, const char16_t* sub_path = nullptr) {
  return {kind::kSlot, registry_hive::kLocalMachine, int16_t(slot), nullptr, nullptr, sub_path};
}
constexpr folder_source_t Shell(int csidl) {
  return {kind::kShell, registry_hive::kLocalMachine, int16_t(csidl), nullptr, nullptr, nullptr};
}
constexpr folder_source_t MachineValue(const char16_t* key, const char16_t* name) {
  return {kind::kRegistry, registry_hive::kLocalMachine, 0, key, name, nullptr};
}
constexpr folder_source_t UserValue(const char16_t* key, const char16_t* name) {
  return {kind::kRegistry, registry_hive::kCurrentUser, 0, key, name, nullptr};
}
constexpr folder_source_t Env(const char16_t* name) {
  return {kind::kEnvironment, registry_hive::kCurrentUser, 0, nullptr, name, nullptr};
}
constexpr folder_source_t Fixed(const char16_t* path) {
  return {kind::kFixed, registry_hive::kLocalMachine, 0, nullptr, path, nullptr};
}
constexpr folder_row_t Row(folder_source_t a = {}, folder_source_t b = {}, folder_source_t c = {},
                           folder_source_t d = {}) {
  return {{a, b, c, d}};
}

}  // namespace

// Slots 1 and 5 have no row of their own: the table fills them from the Windows directory.
const folder_row_t kWindowsFolderRows[kFolderCount] = {
    /* 0 none */ Row(),
    /* 1 Windows */ Row(),
    /* 2 system */ Row(Shell(kCsidlSystem), Slot(kFolderWindows, u"System32")),
    /* 3 system x86 */ Row(Shell(kCsidlSystemX86), Slot(kFolderWindows, u"SysWow64")),
    /* 4 drivers */ Row(Slot(kFolderSystem, u"Drivers")),
    /* 5 system drive */ Row(),
    /* 6 temp */ Row(Env(u"TEMP"), Slot(kFolderProfile, u"Local Settings\\Temp")),
    /* 7 program files */
    Row(MachineValue(kCurrentVersionKey, u"ProgramW6432Dir"), Shell(kCsidlProgramFiles),
        MachineValue(kCurrentVersionKey, u"ProgramFilesDir"), Env(u"ProgramFiles")),
    /* 8 common app data */ Row(Shell(kCsidlCommonAppData), Env(u"ALLUSERSPROFILE")),
    /* 9 common desktop */
    Row(Shell(kCsidlCommonDesktop), MachineValue(kShellFoldersKey, u"Common Desktop"),
        Slot(kFolderCommonAppData, u"Desktop")),
    /* 10 common programs */
    Row(Shell(kCsidlCommonPrograms), MachineValue(kShellFoldersKey, u"Common Programs"),
        Slot(kFolderCommonAppData, u"Start Menu\\Programs")),
    /* 11 common startup */
    Row(Shell(kCsidlCommonStartup), MachineValue(kShellFoldersKey, u"Common Startup"),
        Slot(kFolderCommonAppData, u"Start Menu\\Programs\\Startup")),
    /* 12 profile */ Row(Shell(kCsidlProfile), Env(u"USERPROFILE")),
    /* 13 local app data */
    Row(Shell(kCsidlLocalAppData), Slot(kFolderProfile, u"Local Settings\\Application Data")),
    /* 14 app data */ Row(Shell(kCsidlAppData), Slot(kFolderProfile, u"Application Data")),
    /* 15 desktop */
    Row(Shell(kCsidlDesktopDirectory), UserValue(kShellFoldersKey, u"Desktop"),
        Slot(kFolderProfile, u"Desktop")),
    /* 16 programs */
    Row(Shell(kCsidlPrograms), UserValue(kShellFoldersKey, u"Programs"),
        Slot(kFolderProfile, u"Start Menu\\Programs")),
    /* 17 startup */
    Row(Shell(kCsidlStartup), UserValue(kShellFoldersKey, u"Startup"),
        Slot(kFolderProfile, u"Start Menu\\Programs\\Startup")),
    /* 18 user binaries */ Row(Slot(kFolderLocalAppData, u"bin")),
    /* 19 Windows temp */ Row(Slot(kFolderWindows, u"Temp")),
    /* 20 unassigned */ Row(),
};

// The Linux flavour: the XDG and home conventions where a folder has a twin there; the others
// stay the invalid path.
const folder_row_t kPosixFolderRows[kFolderCount] = {
    /* 0 none */ Row(),
    /* 1 Windows */ Row(),
    /* 2 system */ Row(),
    /* 3 system x86 */ Row(),
    /* 4 drivers */ Row(),
    /* 5 system drive */ Row(),
    /* 6 temp */ Row(Env(u"TMPDIR"), Fixed(u"\\tmp")),
    /* 7 program files */ Row(),
    /* 8 common app data */ Row(),
    /* 9 common desktop */ Row(),
    /* 10 common programs */ Row(Fixed(u"\\usr\\share\\applications")),
    /* 11 common startup */ Row(Fixed(u"\\etc\\xdg\\autostart")),
    /* 12 profile */ Row(Env(u"HOME")),
    /* 13 local app data */ Row(Env(u"XDG_DATA_HOME"), Slot(kFolderProfile, u".local\\share")),
    /* 14 app data */ Row(Env(u"XDG_CONFIG_HOME"), Slot(kFolderProfile, u".config")),
    /* 15 desktop */ Row(Slot(kFolderProfile, u"Desktop")),
    /* 16 programs */ Row(Slot(kFolderLocalAppData, u"applications")),
    /* 17 startup */ Row(Slot(kFolderAppData, u"autostart")),
    /* 18 user binaries */ Row(Slot(kFolderProfile, u".local\\bin")),
    /* 19 Windows temp */ Row(Fixed(u"\\tmp")),
    /* 20 unassigned */ Row(),
};

namespace {

// ---- Small helpers -------------------------------------------------------------------------

char16_t* HeapCopy(const char16_t* text, size_t length) {
  kd_heap_ma_c heap;
  auto* copy = static_cast<char16_t*>(heap.Allocate((length + 1) * sizeof(char16_t)));
  if (copy) std::memcpy(copy, text, length * sizeof(char16_t));
  return copy;
}

// The parts of a path, with the name never starting inside the root.
bool SplitPath(const char16_t* path, path_parts_t* parts) {
  if (path_split(path, parts) != kOk) return false;
  if (parts->name_start < parts->root_length) parts->name_start = parts->root_length;
  return true;
}

bool IsAbsolute(const char16_t* path) {
  path_parts_t parts;
  return SplitPath(path, &parts) && parts.absolute;
}

bool HoldsPercent(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == u'%') return true;
  }
  return false;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Publishes a computed heap value, or the fallback when there is none, unless another caller
// was first; then the own copy goes and the earlier value stands.
template <typename T>
const T* PublishOnce(std::atomic<const T*>& slot, T* computed, const T* fallback) {
  const T* candidate = computed ? computed : fallback;
  const T* expected = nullptr;
  if (slot.compare_exchange_strong(expected, candidate, std::memory_order_acq_rel,
                                   std::memory_order_acquire)) {
    return candidate;
  }
  HeapFree(computed);
  return expected;
}

// Reads a platform fact into a heap copy; null when the system has no answer.
char16_t* ReadFact(size_t (*read)(char16_t* buf, size_t cap)) {
  char16_t buf[kFactChars];
  size_t length = read(buf, kFactChars);
  if (length == 0 || length >= kFactChars) return nullptr;
  return HeapCopy(buf, length);
}

}  // namespace

// ---- Folder table --------------------------------------------------------------------------

const char16_t* folder_table_c::Get(int index) {
  if (!initialised_.load(std::memory_order_acquire)) Initialise();
  int slot = index >= 0 && index < kFolderCount ? index : kFolderNone;
  return Resolve(slot, 0);
}

void folder_table_c::Initialise() {
  char16_t windows[kFactChars];
  size_t length = reader_->WindowsDirectory(windows, kFactChars);
  if (length >= kFactChars) length = 0;
  Publish(kFolderWindows, length ? HeapCopy(windows, length) : nullptr);
  bool drive_root =
      length >= 3 && IsAsciiLetter(windows[0]) && windows[1] == u':' && windows[2] == u'\\';
  Publish(kFolderSystemDrive, drive_root ? HeapCopy(windows, 3) : nullptr);
  initialised_.store(true, std::memory_order_release);
}

// `visiting` holds the slots being resolved further up this call chain, so a table whose rows
// refer to each other in a circle ends in the invalid path instead of recursing without end.
const char16_t* folder_table_c::Resolve(int slot, uint32_t visiting) {
  const char16_t* published = slots_[slot].load(std::memory_order_acquire);
  if (published) return published;
  char16_t* found = nullptr;
  for (const folder_source_t& source : rows_[slot].sources) {
    if (source.kind == folder_source_kind::kNone) break;
    found = TrySource(source, visiting | (1u << slot));
    if (found) break;
  }
  return Publish(slot, found);
}

// A heap copy of the source's path with its sub-path joined, or null when the source gives no
// absolute path. A relative result would put files below whatever the current directory is.
char16_t* folder_table_c::TrySource(const folder_source_t& source, uint32_t visiting) {
  char16_t buf[kFactChars];
  const char16_t* path = buf;
  size_t length = 0;
  switch (source.kind) {
    case folder_source_kind::kSlot:
      if (source.number < 0 || source.number >= kFolderCount) return nullptr;
      if (visiting & (1u << source.number)) return nullptr;
      path = Resolve(source.number, visiting);
      if (path == kInvalidFolderPath) return nullptr;
      length = Utf16Length(path);
      break;
    case folder_source_kind::kShell:
      length = reader_->ShellFolder(source.number, buf, kFactChars);
      break;
    case folder_source_kind::kRegistry:
      length = ReadRegistry(source.hive, source.key, source.name, buf);
      break;
    case folder_source_kind::kEnvironment:
      length = reader_->Environment(source.name, buf, kFactChars);
      if (length == 0 || length >= kFactChars) {
        length = ReadRegistry(registry_hive::kCurrentUser, kUserEnvironmentKey, source.name, buf);
      }
      break;
    case folder_source_kind::kFixed:
      path = source.name;
      length = Utf16Length(path);
      break;
    default: return nullptr;
  }
  if (path == buf) {
    if (length >= kFactChars) return nullptr;
    buf[length] = 0;
  }
  if (length == 0 || !IsAbsolute(path)) return nullptr;
  if (!source.sub_path) return HeapCopy(path, length);
  kd_heap_ma_c heap;
  return path_join(&heap, path, source.sub_path);
}

// Registry text that still holds a %-reference after expansion names no real place: taken
// literally it would be a relative path below the current directory.
size_t folder_table_c::ReadRegistry(registry_hive hive, const char16_t* key, const char16_t* name,
                                    char16_t* buf) {
  size_t length = reader_->RegistryValue(hive, key, name, buf, kFactChars);
  if (length >= kFactChars || HoldsPercent(buf, length)) return 0;
  return length;
}

const char16_t* folder_table_c::Publish(int slot, char16_t* path) {
  return PublishOnce(slots_[slot], path, kInvalidFolderPath);
}

void folder_table_c::Release() {
  for (auto& slot : slots_) {
    const char16_t* path = slot.exchange(nullptr, std::memory_order_acq_rel);
    if (path != kInvalidFolderPath) HeapFree(const_cast<char16_t*>(path));
  }
  initialised_.store(false, std::memory_order_release);
}

// ---- Module names --------------------------------------------------------------------------

bool module_base_name_range(const char16_t* file_name, size_t* start, size_t* length) {
  *start = 0;
  *length = 0;
  path_parts_t parts;
  if (!SplitPath(file_name, &parts)) return false;
  size_t name_end = Utf16Length(file_name);
  size_t end = name_end;
  for (size_t i = parts.name_start; i < name_end; ++i) {
    if (file_name[i] == u'.') end = i;
  }
  *start = parts.name_start;
  *length = end - parts.name_start;
  return true;
}

size_t module_directory_length(const char16_t* file_name) {
  path_parts_t parts;
  if (!SplitPath(file_name, &parts)) return 0;
  size_t cut = parts.name_start;
  // A separator right after the root stays ("C:\"); one after a directory goes ("C:\dir").
  if (cut > parts.root_length + 1) --cut;
  return cut;
}

bool is_full_file_path(const char16_t* file_name) {
  path_parts_t parts;
  return SplitPath(file_name, &parts) && parts.absolute &&
         parts.name_start < Utf16Length(file_name);
}

// ---- Environment snapshot ------------------------------------------------------------------

namespace {

// The UTF-16 and UTF-8 lengths of one entry, without terminators.
struct entry_lengths_t {
  size_t wide;
  size_t narrow;
};

entry_lengths_t MeasureEntry(const char16_t* wide, const char* narrow) {
  if (wide) return {Utf16Length(wide), Utf16ToUtf8(nullptr, 0, wide, -1)};
  return {Utf8ToUtf16(nullptr, 0, narrow, -1), Utf8Length(narrow)};
}

struct environment_measure_t {
  size_t count = 0;
  size_t wide_units = 0;
  size_t narrow_bytes = 0;
};

void CountEntry(void* context, const char16_t* wide, const char* narrow) {
  auto* measure = static_cast<environment_measure_t*>(context);
  entry_lengths_t lengths = MeasureEntry(wide, narrow);
  measure->count += 1;
  measure->wide_units += lengths.wide + 1;
  measure->narrow_bytes += lengths.narrow + 1;
}

struct environment_fill_t {
  environment_snapshot_t* snapshot;
  const char16_t** wide_entries;
  const char** narrow_entries;
  size_t capacity;
  char16_t* wide_next;
  char16_t* wide_end;
  char* narrow_next;
  char* narrow_end;
};

// Copies one entry in both codings; an entry that no longer fits what was measured is left out.
void CopyEntry(void* context, const char16_t* wide, const char* narrow) {
  auto* fill = static_cast<environment_fill_t*>(context);
  size_t index = fill->snapshot->count;
  entry_lengths_t lengths = MeasureEntry(wide, narrow);
  if (index == fill->capacity || lengths.wide >= size_t(fill->wide_end - fill->wide_next) ||
      lengths.narrow >= size_t(fill->narrow_end - fill->narrow_next)) {
    return;
  }
  if (wide) {
    std::memcpy(fill->wide_next, wide, lengths.wide * sizeof(char16_t));
    Utf16ToUtf8(fill->narrow_next, lengths.narrow + 1, wide, -1);
  } else {
    Utf8ToUtf16(fill->wide_next, lengths.wide + 1, narrow, -1);
    std::memcpy(fill->narrow_next, narrow, lengths.narrow);
  }
  fill->wide_entries[index] = fill->wide_next;
  fill->narrow_entries[index] = fill->narrow_next;
  fill->wide_next += lengths.wide + 1;
  fill->narrow_next += lengths.narrow + 1;
  fill->snapshot->count = index + 1;
}

// a + b * c, or SIZE_MAX when it overflows.
size_t AddProduct(size_t a, size_t b, size_t c) {
  if (c && b > (SIZE_MAX - a) / c) return SIZE_MAX;
  return a + b * c;
}

}  // namespace

environment_snapshot_t* build_environment_snapshot(environment_enumerator_fn enumerate) {
  environment_measure_t measure;
  enumerate(CountEntry, &measure);
  // One block: the header, both null-terminated pointer arrays, then the UTF-16 and UTF-8 texts.
  size_t entries_offset = sizeof(environment_snapshot_t);
  size_t narrow_entries_offset = AddProduct(entries_offset, measure.count + 1, sizeof(char16_t*));
  size_t wide_offset = AddProduct(narrow_entries_offset, measure.count + 1, sizeof(char*));
  size_t narrow_offset = AddProduct(wide_offset, measure.wide_units, sizeof(char16_t));
  size_t total = AddProduct(narrow_offset, measure.narrow_bytes, 1);
  if (total == SIZE_MAX) return nullptr;
  kd_heap_ma_c heap;
  auto* block = static_cast<uint8_t*>(heap.Allocate(total));
  if (!block) return nullptr;

  auto* snapshot = reinterpret_cast<environment_snapshot_t*>(block);
  environment_fill_t fill;
  fill.snapshot = snapshot;
  fill.wide_entries = reinterpret_cast<const char16_t**>(block + entries_offset);
  fill.narrow_entries = reinterpret_cast<const char**>(block + narrow_entries_offset);
  fill.capacity = measure.count;
  fill.wide_next = reinterpret_cast<char16_t*>(block + wide_offset);
  fill.wide_end = reinterpret_cast<char16_t*>(block + narrow_offset);
  fill.narrow_next = reinterpret_cast<char*>(block + narrow_offset);
  fill.narrow_end = reinterpret_cast<char*>(block + total);
  snapshot->utf16 = fill.wide_entries;
  snapshot->utf8 = fill.narrow_entries;
  snapshot->count = 0;
  enumerate(CopyEntry, &fill);
  return snapshot;
}

// ---- The process-wide caches ---------------------------------------------------------------

namespace {

enum fact_t {
  kFactModuleFileName,
  kFactModulePath,
  kFactModuleBaseName,
  kFactModuleDirectory,
  kFactComputerName,
  kFactCurrentDirectory,
  kFactCount,
};

// Published for a fact whose value is "none", so it is still computed only once.
constexpr char16_t kNoValue[] = u"";

constexpr const char16_t* kFactFallbacks[kFactCount] = {
    u"\\_", kNoValue, u"_", u"\\", u".", u"\\",
};

std::atomic<const char16_t*> g_facts[kFactCount] = {};
std::atomic<const environment_snapshot_t*> g_environment{nullptr};
std::atomic<bool> g_cleanup_registered{false};

const char16_t* const kNoEntries16[1] = {nullptr};
const char* const kNoEntries8[1] = {nullptr};
const environment_snapshot_t kEmptyEnvironment = {kNoEntries16, kNoEntries8, 0};

folder_table_c& ProcessFolders() {
  static folder_table_c table(platform_folder_reader(), platform_folder_rows());
  return table;
}

void FreeCaches(void*) {
  for (int i = 0; i < kFactCount; ++i) {
    const char16_t* value = g_facts[i].exchange(nullptr, std::memory_order_acq_rel);
    if (value != kFactFallbacks[i]) HeapFree(const_cast<char16_t*>(value));
  }
  const environment_snapshot_t* environment = g_environment.exchange(nullptr);
  if (environment != &kEmptyEnvironment) HeapFree(const_cast<environment_snapshot_t*>(environment));
  ProcessFolders().Release();
}

void RegisterCleanup() {
  if (!g_cleanup_registered.load(std::memory_order_acquire) &&
      !g_cleanup_registered.exchange(true, std::memory_order_acq_rel)) {
    at_process_exit(FreeCaches, nullptr);
  }
}

// The cached fact, computing and publishing it on first use. `compute` returns a heap copy or
// null for "use the fallback".
const char16_t* Fact(fact_t fact, char16_t* (*compute)()) {
  const char16_t* value = g_facts[fact].load(std::memory_order_acquire);
  if (value) return value;
  RegisterCleanup();
  return PublishOnce(g_facts[fact], compute(), kFactFallbacks[fact]);
}

char16_t* ComputeModuleFileName() { return ReadFact(platform_module_file_name); }
char16_t* ComputeComputerName() { return ReadFact(platform_computer_name); }
char16_t* ComputeCurrentDirectory() { return ReadFact(platform_current_directory); }

// The module's real name, or null when only the fallback is known.
const char16_t* KnownModuleFileName() {
  const char16_t* name = module_file_name();
  return name == kFactFallbacks[kFactModuleFileName] ? nullptr : name;
}

char16_t* ComputeModulePath() {
  const char16_t* name = KnownModuleFileName();
  if (!name || !is_full_file_path(name)) return nullptr;
  return HeapCopy(name, Utf16Length(name));
}

char16_t* ComputeModuleBaseName() {
  const char16_t* name = module_file_name();
  size_t start = 0;
  size_t length = 0;
  if (!module_base_name_range(name, &start, &length)) return nullptr;
  return HeapCopy(name + start, length);
}

char16_t* ComputeModuleDirectory() {
  const char16_t* name = module_file_name();
  size_t length = module_directory_length(name);
  return length ? HeapCopy(name, length) : nullptr;
}

}  // namespace

const char16_t* module_file_name() { return Fact(kFactModuleFileName, ComputeModuleFileName); }

const char16_t* module_path() {
  const char16_t* path = Fact(kFactModulePath, ComputeModulePath);
  return path == kNoValue ? nullptr : path;
}

const char16_t* module_base_name() { return Fact(kFactModuleBaseName, ComputeModuleBaseName); }
const char16_t* module_directory() { return Fact(kFactModuleDirectory, ComputeModuleDirectory); }
const char16_t* computer_name() { return Fact(kFactComputerName, ComputeComputerName); }

const char16_t* cached_current_directory() {
  return Fact(kFactCurrentDirectory, ComputeCurrentDirectory);
}

const environment_snapshot_t& environment_snapshot() {
  const environment_snapshot_t* snapshot = g_environment.load(std::memory_order_acquire);
  if (snapshot) return *snapshot;
  RegisterCleanup();
  return *PublishOnce(g_environment, build_environment_snapshot(platform_environment),
                      &kEmptyEnvironment);
}

const char16_t* special_folder(int index) {
  RegisterCleanup();
  return ProcessFolders().Get(index);
}
