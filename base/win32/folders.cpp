// Process facts on Windows: the module file name, computer name, current directory and
// environment block, and the shell folders, registry values and environment variables behind
// the folder table.
#include <windows.h>
#include <shlobj.h>

#include "base/folders_impl.h"

namespace {

wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// A length the system reported for a buffer of cap characters; 0 when nothing or too much.
size_t Fitting(DWORD length, size_t cap) { return length > 0 && length < cap ? length : 0; }

size_t TerminatedLength(const char16_t* text, size_t cap) {
  size_t length = 0;
  while (length < cap && text[length]) ++length;
  return length < cap ? length : 0;
}

// Reads a REG_SZ or REG_EXPAND_SZ value; an expandable one is expanded against the environment.
size_t ReadStringValue(HKEY key, const char16_t* name, char16_t* buf, size_t cap) {
  char16_t raw[kFactChars + 1] = {};
  DWORD type = 0;
  DWORD bytes = kFactChars * sizeof(char16_t);
  LONG status =
      RegQueryValueExW(key, Wide(name), nullptr, &type, reinterpret_cast<BYTE*>(raw), &bytes);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
  // The stored text need not carry its terminator; raw has room for one more.
  size_t length = TerminatedLength(raw, bytes / sizeof(char16_t) + 1);
  if (length == 0 || length >= cap) return 0;
  if (type == REG_SZ) {
    for (size_t i = 0; i <= length; ++i) buf[i] = raw[i];
    return length;
  }
  DWORD needed = ExpandEnvironmentStringsW(Wide(raw), Wide(buf), DWORD(cap));
  // The count includes the terminator.
  return needed > 1 && needed <= cap ? needed - 1 : 0;
}

class win32_folder_reader_c final : public folder_source_reader_i {
 public:
  size_t WindowsDirectory(char16_t* buf, size_t cap) override {
    return Fitting(GetWindowsDirectoryW(Wide(buf), UINT(cap)), cap);
  }
  size_t ShellFolder(int csidl, char16_t* buf, size_t cap) override {
    // The call writes up to MAX_PATH characters.
    if (cap < MAX_PATH) return 0;
    buf[0] = 0;
    if (!SHGetSpecialFolderPathW(nullptr, Wide(buf), csidl, TRUE)) return 0;
    return TerminatedLength(buf, cap);
  }
  size_t RegistryValue(registry_hive hive, const char16_t* key, const char16_t* name, char16_t* buf,
                       size_t cap) override {
    HKEY root = hive == registry_hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, Wide(key), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return 0;
    size_t length = ReadStringValue(opened, name, buf, cap);
    RegCloseKey(opened);
    return length;
  }
  size_t Environment(const char16_t* name, char16_t* buf, size_t cap) override {
    return Fitting(GetEnvironmentVariableW(Wide(name), Wide(buf), DWORD(cap)), cap);
  }
};

win32_folder_reader_c g_reader;

}  // namespace

folder_source_reader_i* platform_folder_reader() { return &g_reader; }
const folder_row_t* platform_folder_rows() { return kWindowsFolderRows; }

size_t platform_module_file_name(char16_t* buf, size_t cap) {
  return Fitting(GetModuleFileNameW(nullptr, Wide(buf), DWORD(cap)), cap);
}

size_t platform_computer_name(char16_t* buf, size_t cap) {
  DWORD length = DWORD(cap);
  if (!GetComputerNameW(Wide(buf), &length)) return 0;
  return Fitting(length, cap);
}

size_t platform_current_directory(char16_t* buf, size_t cap) {
  return Fitting(GetCurrentDirectoryW(DWORD(cap), Wide(buf)), cap);
}

void platform_environment(environment_entry_fn entry, void* context) {
  wchar_t* block = GetEnvironmentStringsW();
  if (!block) return;
  for (const wchar_t* variable = block; *variable; variable += lstrlenW(variable) + 1) {
    entry(context, reinterpret_cast<const char16_t*>(variable), nullptr);
  }
  FreeEnvironmentStringsW(block);
}
