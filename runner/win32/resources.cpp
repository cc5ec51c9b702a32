// The Windows runner's resources: lookups in the program's own module, and the user's language
// from the registry ("Control Panel\International", value "sLanguage").
#include "runner/resources.h"

#include <windows.h>

// "sLanguage" is read into a buffer of this size.
constexpr DWORD kLanguageBufferBytes = 200;

// The value as the registry holds it, or "ENU" when it is missing, of another type or larger
// than the buffer. A value that fills the buffer exactly is cut to 99 characters.
void read_user_language(char16_t out[kLanguageNameMax + 1]) {
  static_assert(kLanguageBufferBytes / 2 == kLanguageNameMax + 1);
  wchar_t value[kLanguageBufferBytes / 2 + 1] = {};
  DWORD type = 0, bytes = kLanguageBufferBytes;
  HKEY key;
  LSTATUS status =
      RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) {
    status =
        RegQueryValueExW(key, L"sLanguage", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
  }
  const wchar_t* name = value;
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    name = L"ENU";
  } else if (bytes >= kLanguageBufferBytes) {
    value[kLanguageBufferBytes / 2 - 1] = 0;
  } else {
    value[bytes / 2] = 0;
  }
  size_t i = 0;
  for (; i < kLanguageNameMax && name[i]; ++i) out[i] = char16_t(name[i]);
  out[i] = 0;
}

const uint8_t* find_resource(const char16_t* type, const char16_t* name, uint32_t* size) {
  *size = 0;
  if (!type || !name) return nullptr;
  HRSRC info = FindResourceW(nullptr, reinterpret_cast<const wchar_t*>(name),
                             reinterpret_cast<const wchar_t*>(type));
  if (!info) return nullptr;
  DWORD bytes = SizeofResource(nullptr, info);
  HGLOBAL loaded = LoadResource(nullptr, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || bytes == 0) return nullptr;
  *size = bytes;
  return static_cast<const uint8_t*>(data);
}
