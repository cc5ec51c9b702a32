// The user's language for a test: replaces the registry value "sLanguage" under
// "Control Panel\International" for the life of the object and puts the old one back afterwards.
#pragma once
#include <windows.h>

#include <string>

namespace testing_support {

class ScopedLanguageValue {
 public:
  ScopedLanguageValue() {
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    DWORD size = sizeof old_;
    had_ = RegQueryValueExW(key_, L"sLanguage", nullptr, &type_, old_, &size) == ERROR_SUCCESS;
    old_size_ = size;
  }
  ~ScopedLanguageValue() {
    if (had_) RegSetValueExW(key_, L"sLanguage", 0, type_, old_, old_size_);
    else RegDeleteValueW(key_, L"sLanguage");
    RegCloseKey(key_);
  }
  void Set(DWORD type, const std::wstring& text, bool with_nul = true) {
    DWORD bytes = DWORD((text.size() + (with_nul ? 1 : 0)) * sizeof(wchar_t));
    RegSetValueExW(key_, L"sLanguage", 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  }
  void Remove() { RegDeleteValueW(key_, L"sLanguage"); }

 private:
  static constexpr wchar_t kKey[] = L"Control Panel\\International";
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD type_ = 0, old_size_ = 0;
  BYTE old_[1024] = {};
};

}  // namespace testing_support
