// The user's language from the registry: "Control Panel\International", value "sLanguage",
// read into a 200-byte buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runner/resources.h"
#include "runner/test_resources.h"

namespace {

constexpr wchar_t kKey[] = L"Control Panel\\International";

// Replaces the value for the life of the object and puts the old one back afterwards.
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
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD type_ = 0, old_size_ = 0;
  BYTE old_[1024] = {};
};

}  // namespace

TEST(Win32Language, RegistryValueRules) {
  ScopedLanguageValue value;
  value.Set(REG_SZ, L"DEU");
  EXPECT_EQ(ReadLanguage(), u"DEU");
  value.Set(REG_EXPAND_SZ, L"FRA");
  EXPECT_EQ(ReadLanguage(), u"FRA");
  value.Set(REG_DWORD, L"xx", false);
  EXPECT_EQ(ReadLanguage(), u"ENU");
  value.Remove();
  EXPECT_EQ(ReadLanguage(), u"ENU");
  // 99 characters and the NUL fill the buffer exactly; 150 do not fit at all.
  value.Set(REG_SZ, std::wstring(99, L'L'));
  EXPECT_EQ(ReadLanguage(), std::u16string(99, u'L'));
  value.Set(REG_SZ, std::wstring(150, L'L'));
  EXPECT_EQ(ReadLanguage(), u"ENU");
  value.Set(REG_SZ, L"NLD", false);  // stored without its NUL
  EXPECT_EQ(ReadLanguage(), u"NLD");
}
