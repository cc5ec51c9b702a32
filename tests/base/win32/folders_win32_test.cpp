#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "base/folders.h"
#include "base/folders_impl.h"

namespace {

using std::u16string;

const u16string kEnvironment = u"Environment";

u16string Text(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

// The system's reader, except that it hides TEMP from the environment and, when asked, from
// the user's "Environment" key.
class no_temp_reader_c : public folder_source_reader_i {
 public:
  bool hide_user_value = true;
  folder_source_reader_i& system = *platform_folder_reader();

  size_t WindowsDirectory(char16_t* buf, size_t cap) override {
    return system.WindowsDirectory(buf, cap);
  }
  size_t ShellFolder(int csidl, char16_t* buf, size_t cap) override {
    return system.ShellFolder(csidl, buf, cap);
  }
  size_t RegistryValue(registry_hive hive, const char16_t* key, const char16_t* name,
                       char16_t* buf, size_t cap) override {
    if (hide_user_value && key == kEnvironment && name == u16string(u"TEMP")) return 0;
    return system.RegistryValue(hive, key, name, buf, cap);
  }
  size_t Environment(const char16_t* name, char16_t* buf, size_t cap) override {
    if (name == u16string(u"TEMP")) return 0;
    return system.Environment(name, buf, cap);
  }
};

u16string TempFolder(no_temp_reader_c& reader) {
  folder_table_c table(&reader, kWindowsFolderRows);
  u16string path = table.Get(kFolderTemp);
  table.Release();
  return path;
}

TEST(Win32Folders, TempWithoutVariableOrUserValueIsProfileLocalSettingsTemp) {
  no_temp_reader_c reader;
  wchar_t profile[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, profile, CSIDL_PROFILE, FALSE));
  EXPECT_EQ(TempFolder(reader), Text(profile) + u"\\Local Settings\\Temp");
}

TEST(Win32Folders, TempFromUserEnvironmentKeyWhenVariableIsUnset) {
  no_temp_reader_c reader;
  reader.hide_user_value = false;
  char16_t stored[kFactChars];
  size_t length = reader.system.RegistryValue(registry_hive::kCurrentUser, u"Environment",
                                              u"TEMP", stored, kFactChars);
  if (length == 0) GTEST_SKIP() << "would check that TEMP under HKCU\\Environment gives the temporary folder "
                                 "when the variable is unset; this system has no such value";
  EXPECT_EQ(TempFolder(reader), u16string(stored, length));
}

TEST(Win32Folders, ExpandableRegistryValuesComeBackExpanded) {
  char16_t value[kFactChars];
  size_t length = platform_folder_reader()->RegistryValue(
      registry_hive::kCurrentUser,
      u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", u"Desktop",
      value, kFactChars);
  if (length == 0) GTEST_SKIP() << "would check that an expandable registry value comes back expanded; this "
                                 "system has no expandable Desktop value";
  u16string desktop(value, length);
  EXPECT_EQ(desktop.find(u'%'), u16string::npos);
  EXPECT_EQ(desktop.substr(desktop.size() - 8), u"\\Desktop");
}

TEST(Win32Folders, SystemFactsMatchTheApi) {
  wchar_t buf[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryW(buf, MAX_PATH), 0u);
  EXPECT_EQ(u16string(special_folder(kFolderWindows)), Text(buf));
  EXPECT_EQ(u16string(special_folder(kFolderSystemDrive)), Text(buf).substr(0, 3));
  ASSERT_GT(GetModuleFileNameW(nullptr, buf, MAX_PATH), 0u);
  EXPECT_EQ(u16string(module_file_name()), Text(buf));
  u16string temp = special_folder(kFolderTemp);
  EXPECT_NE(temp, u16string(kInvalidFolderPath));
  EXPECT_EQ(temp.find(u'%'), u16string::npos);
}

}  // namespace
