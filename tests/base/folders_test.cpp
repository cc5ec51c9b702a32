#include "base/folders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "base/folders_impl.h"
#include "base/pool.h"
#include "base/text.h"

namespace {

using std::u16string;

size_t Answer(const u16string& value, char16_t* buf, size_t cap) {
  if (value.empty() || value.size() >= cap) return 0;
  value.copy(buf, value.size());
  buf[value.size()] = 0;
  return value.size();
}

template <typename Key>
size_t AnswerFrom(const std::map<Key, u16string>& answers, const Key& key, char16_t* buf,
                  size_t cap) {
  auto found = answers.find(key);
  return found == answers.end() ? 0 : Answer(found->second, buf, cap);
}

// Answers every source from fixed maps; registry keys are "M:" or "U:", the key, '|', the name.
class fake_reader_c : public folder_source_reader_i {
 public:
  u16string windows;
  std::map<int, u16string> shell;
  std::map<u16string, u16string> registry;
  std::map<u16string, u16string> environment;

  size_t WindowsDirectory(char16_t* buf, size_t cap) override { return Answer(windows, buf, cap); }
  size_t ShellFolder(int csidl, char16_t* buf, size_t cap) override {
    return AnswerFrom(shell, csidl, buf, cap);
  }
  size_t RegistryValue(registry_hive hive, const char16_t* key, const char16_t* name,
                       char16_t* buf, size_t cap) override {
    u16string path = hive == registry_hive::kLocalMachine ? u"M:" : u"U:";
    return AnswerFrom(registry, path + key + u"|" + name, buf, cap);
  }
  size_t Environment(const char16_t* name, char16_t* buf, size_t cap) override {
    return AnswerFrom(environment, u16string(name), buf, cap);
  }
};

// One slot of a fresh table over the reader.
u16string Folder(fake_reader_c& reader, const folder_row_t* rows, int index) {
  folder_table_c table(&reader, rows);
  u16string path = table.Get(index);
  table.Release();
  return path;
}

const u16string kInvalid = kInvalidFolderPath;

TEST(FolderTable, TempWithoutVariableOrUserValueIsProfileLocalSettingsTemp) {
  fake_reader_c reader;
  reader.shell[40] = u"C:\\Users\\ann";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderTemp),
            u"C:\\Users\\ann\\Local Settings\\Temp");
  reader.shell.clear();
  reader.environment[u"USERPROFILE"] = u"D:\\Profiles\\bob\\";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderTemp),
            u"D:\\Profiles\\bob\\Local Settings\\Temp");
}

TEST(FolderTable, TempVariableThenUserEnvironmentKey) {
  fake_reader_c reader;
  reader.shell[40] = u"C:\\Users\\ann";
  reader.registry[u"U:Environment|TEMP"] = u"D:\\Temp";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderTemp), u"D:\\Temp");
  reader.environment[u"TEMP"] = u"E:\\t";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderTemp), u"E:\\t");
}

TEST(FolderTable, UnexpandedOrRelativeTempIsSkipped) {
  fake_reader_c reader;
  reader.shell[40] = u"C:\\Users\\ann";
  reader.registry[u"U:Environment|TEMP"] = u"%USERPROFILE%\\Temp";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderTemp),
            u"C:\\Users\\ann\\Local Settings\\Temp");
  reader.environment[u"TEMP"] = u"Temp";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderTemp),
            u"C:\\Users\\ann\\Local Settings\\Temp");
}

TEST(FolderTable, WindowsDirectoryFeedsDependentSlots) {
  fake_reader_c reader;
  reader.windows = u"C:\\Windows";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderWindows), u"C:\\Windows");
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderSystemDrive), u"C:\\");
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderDrivers), u"C:\\Windows\\System32\\Drivers");
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderWindowsTemp), u"C:\\Windows\\Temp");
  reader.shell[37] = u"C:\\Sys";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderDrivers), u"C:\\Sys\\Drivers");

  // Without a drive letter there is no drive root; without a Windows directory nothing builds
  // on the invalid path.
  reader.windows = u"\\\\srv\\share\\win";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderSystemDrive), kInvalid);
  reader.windows.clear();
  reader.shell.clear();
  for (int slot : {kFolderWindows, kFolderSystemDrive, kFolderDrivers, kFolderWindowsTemp}) {
    EXPECT_EQ(Folder(reader, kWindowsFolderRows, slot), kInvalid) << slot;
  }
}

TEST(FolderTable, SourcesAreTriedInOrder) {
  fake_reader_c reader;
  const u16string version = u"M:Software\\Microsoft\\Windows\\CurrentVersion|";
  reader.environment[u"ProgramFiles"] = u"C:\\Env";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderProgramFiles), u"C:\\Env");
  reader.registry[version + u"ProgramFilesDir"] = u"C:\\Dir";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderProgramFiles), u"C:\\Dir");
  reader.shell[38] = u"C:\\Shell";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderProgramFiles), u"C:\\Shell");
  reader.registry[version + u"ProgramW6432Dir"] = u"C:\\W6432";
  EXPECT_EQ(Folder(reader, kWindowsFolderRows, kFolderProgramFiles), u"C:\\W6432");
}

TEST(FolderTable, IndexOutsideTableIsSlotZero) {
  fake_reader_c reader;
  reader.windows = u"C:\\Windows";
  folder_table_c table(&reader, kWindowsFolderRows);
  const char16_t* none = table.Get(0);
  EXPECT_EQ(u16string(none), kInvalid);
  EXPECT_EQ(table.Get(21), none);
  EXPECT_EQ(table.Get(-1), none);
  EXPECT_EQ(table.Get(kFolderUnassigned), none);
  table.Release();

  EXPECT_EQ(special_folder(21), special_folder(0));
  EXPECT_EQ(special_folder(-1), special_folder(0));
  EXPECT_EQ(u16string(special_folder(-1)), kInvalid);
}

TEST(FolderTable, CircularRowsEndInInvalidPath) {
  folder_row_t rows[kFolderCount] = {};
  rows[2].sources[0] = {folder_source_kind::kSlot, registry_hive::kLocalMachine, 3, nullptr,
                        nullptr, nullptr};
  rows[3].sources[0] = {folder_source_kind::kSlot, registry_hive::kLocalMachine, 2, nullptr,
                        nullptr, u"x"};
  rows[3].sources[1] = {folder_source_kind::kSlot, registry_hive::kLocalMachine, 99, nullptr,
                        nullptr, nullptr};
  fake_reader_c reader;
  EXPECT_EQ(Folder(reader, rows, 2), kInvalid);
  EXPECT_EQ(Folder(reader, rows, 3), kInvalid);
}

// Holds every caller of Environment until two are inside, so both compute the slot.
class gated_reader_c : public fake_reader_c {
 public:
  std::atomic<int> inside{0};
  size_t Environment(const char16_t* name, char16_t* buf, size_t cap) override {
    inside.fetch_add(1);
    for (int spin = 0; inside.load() < 2 && spin < 1000000; ++spin) std::this_thread::yield();
    return fake_reader_c::Environment(name, buf, cap);
  }
};

TEST(FolderTable, RacingCallersShareOnePublishedPath) {
  gated_reader_c reader;
  reader.environment[u"TEMP"] = u"C:\\Temp";
  folder_table_c table(&reader, kWindowsFolderRows);
  const char16_t* seen[2] = {};
  std::thread first([&] { seen[0] = table.Get(kFolderTemp); });
  std::thread second([&] { seen[1] = table.Get(kFolderTemp); });
  first.join();
  second.join();
  EXPECT_EQ(reader.inside.load(), 2);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(u16string(seen[0]), u"C:\\Temp");
  table.Release();

  const char16_t* desktop[2] = {};
  std::thread a([&] { desktop[0] = special_folder(kFolderDesktop); });
  std::thread b([&] { desktop[1] = special_folder(kFolderDesktop); });
  a.join();
  b.join();
  EXPECT_EQ(desktop[0], desktop[1]);
}

TEST(FolderTable, LinuxTwins) {
  fake_reader_c reader;
  EXPECT_EQ(Folder(reader, kPosixFolderRows, kFolderTemp), u"\\tmp");
  reader.environment[u"TMPDIR"] = u"tmp";
  EXPECT_EQ(Folder(reader, kPosixFolderRows, kFolderTemp), u"\\tmp");
  reader.environment[u"TMPDIR"] = u"\\var\\tmp";
  EXPECT_EQ(Folder(reader, kPosixFolderRows, kFolderTemp), u"\\var\\tmp");

  EXPECT_EQ(Folder(reader, kPosixFolderRows, kFolderDesktop), kInvalid);
  reader.environment[u"HOME"] = u"\\home\\ann";
  EXPECT_EQ(Folder(reader, kPosixFolderRows, kFolderPrograms),
            u"\\home\\ann\\.local\\share\\applications");
  reader.environment[u"XDG_CONFIG_HOME"] = u"\\cfg";
  EXPECT_EQ(Folder(reader, kPosixFolderRows, kFolderStartup), u"\\cfg\\autostart");
  for (int slot : {kFolderWindows, kFolderSystemDrive, kFolderSystem, kFolderProgramFiles}) {
    EXPECT_EQ(Folder(reader, kPosixFolderRows, slot), kInvalid) << slot;
  }
}

// What the module's names are for a module file name.
struct module_case_t {
  const char16_t* file_name;
  const char16_t* base_name;  // null: the name cannot be split
  const char16_t* directory;
  bool full;
};

const module_case_t kModuleCases[] = {
    {u"C:\\dir\\setup.exe", u"setup", u"C:\\dir", true},
    {u"C:\\dir\\sub\\setup", u"setup", u"C:\\dir\\sub", true},
    {u"C:\\dir\\a.b.exe", u"a.b", u"C:\\dir", true},
    {u"C:\\dir\\.exe", u"", u"C:\\dir", true},
    {u"C:\\my.dir\\setup", u"setup", u"C:\\my.dir", true},
    {u"C:\\setup.exe", u"setup", u"C:\\", true},
    {u"\\\\srv\\share\\setup.exe", u"setup", u"\\\\srv\\share\\", true},
    {u"\\opt\\isorun-sfx", u"isorun-sfx", u"\\opt", true},
    {u"\\_", u"_", u"\\", true},
    {u"C:\\dir\\", u"", u"C:\\dir", false},
    {u"setup.exe", u"setup", u"", false},
    {u"C:x.exe", u"x", u"C:", false},
    {u"", nullptr, u"", false},
};

TEST(ModuleNames, BaseNameDirectoryAndFullPath) {
  for (const module_case_t& c : kModuleCases) {
    SCOPED_TRACE(std::string(c.file_name, c.file_name + Utf16Length(c.file_name)));
    size_t start = 0;
    size_t length = 0;
    bool split = module_base_name_range(c.file_name, &start, &length);
    ASSERT_EQ(split, c.base_name != nullptr);
    if (split) {
      EXPECT_EQ(u16string(c.file_name + start, length), c.base_name);
    }
    EXPECT_EQ(u16string(c.file_name, module_directory_length(c.file_name)), c.directory);
    EXPECT_EQ(is_full_file_path(c.file_name), c.full);
  }
}

TEST(ProcessFacts, ModuleNamesOfThisProgram) {
  const char16_t* path = module_path();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path, module_path());
  EXPECT_EQ(u16string(path), u16string(module_file_name()));
  EXPECT_EQ(u16string(module_base_name()), u"test_base");
  u16string directory = module_directory();
  EXPECT_EQ(u16string(path).compare(0, directory.size(), directory), 0);
  EXPECT_TRUE(is_full_file_path(path));
  EXPECT_GT(Utf16Length(computer_name()), 0u);
  // The current directory is the one of the first call: a later change does not move it.
  u16string current = cached_current_directory();
  EXPECT_GT(current.size(), 0u);
  std::filesystem::path was = std::filesystem::current_path();
  std::filesystem::current_path(was.root_path());
  u16string after_change = cached_current_directory();
  std::filesystem::current_path(was);
  EXPECT_EQ(after_change, current);
  EXPECT_NE(u16string(special_folder(kFolderTemp)), kInvalid);
}

// Wide, narrow, wide: the snapshot keeps the order and both codings of each.
void ThreeEntries(environment_entry_fn entry, void* context) {
  entry(context, u"A=1", nullptr);
  entry(context, nullptr, "B=h\xC3\xA9");
  entry(context, u"C=\u00E9\U0001F600", nullptr);
}
void NoEntries(environment_entry_fn, void*) {}

TEST(EnvironmentSnapshot, KeepsOrderAndBothCodings) {
  environment_snapshot_t* snapshot = build_environment_snapshot(ThreeEntries);
  ASSERT_NE(snapshot, nullptr);
  ASSERT_EQ(snapshot->count, 3u);
  EXPECT_EQ(u16string(snapshot->utf16[0]), u"A=1");
  EXPECT_EQ(u16string(snapshot->utf16[1]), u"B=h\u00E9");
  EXPECT_EQ(u16string(snapshot->utf16[2]), u"C=\u00E9\U0001F600");
  EXPECT_STREQ(snapshot->utf8[0], "A=1");
  EXPECT_STREQ(snapshot->utf8[1], "B=h\xC3\xA9");
  EXPECT_STREQ(snapshot->utf8[2], "C=\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(snapshot->utf16[3], nullptr);
  EXPECT_EQ(snapshot->utf8[3], nullptr);
  HeapFree(snapshot);

  snapshot = build_environment_snapshot(NoEntries);
  ASSERT_NE(snapshot, nullptr);
  EXPECT_EQ(snapshot->count, 0u);
  EXPECT_EQ(snapshot->utf16[0], nullptr);
  EXPECT_EQ(snapshot->utf8[0], nullptr);
  HeapFree(snapshot);
}

TEST(EnvironmentSnapshot, ProcessSnapshotHoldsPath) {
  const environment_snapshot_t& snapshot = environment_snapshot();
  EXPECT_EQ(&snapshot, &environment_snapshot());
  const char* expected = std::getenv("PATH");
  ASSERT_NE(expected, nullptr);
  int matches = 0;
  for (size_t i = 0; i < snapshot.count; ++i) {
    const char* entry = snapshot.utf8[i];
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(snapshot.utf16[i], nullptr);
    if (Utf8CompareNoCase(entry, 5, "PATH=", 5) == 0 && std::string(entry + 5) == expected) {
      ++matches;
    }
  }
  EXPECT_EQ(matches, 1);
  EXPECT_EQ(snapshot.utf8[snapshot.count], nullptr);
}

}  // namespace
