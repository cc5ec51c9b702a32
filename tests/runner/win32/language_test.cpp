// The user's language from the registry: "Control Panel\International", value "sLanguage",
// read into a 200-byte buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include "runner/resources.h"
#include "runner/test_resources.h"
#include "runner/win32/scoped_language.h"

using testing_support::ScopedLanguageValue;

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
