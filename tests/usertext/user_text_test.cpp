#include "usertext/user_text.h"

#include <gtest/gtest.h>

#include <string>

#include "base/pool.h"

namespace {
std::u16string Format(const char16_t* id, std::initializer_list<const char16_t*> args) {
  kd_mp_c pool;
  return UserTextFormat(&pool, id, uint32_t(args.size()), args.begin());
}
}  // namespace

TEST(UserText, LookupMatchesIdentifiersWithoutAsciiCase) {
  UserTextDefault(u"test_title", "Extraction Failed");
  EXPECT_EQ(Format(u"TEST_TITLE", {}), u"Extraction Failed");
  EXPECT_EQ(Format(u"never_registered", {}), u"never_registered");
  UserTextDefault(u"test_title", "Second");  // a later definition replaces the earlier one
  EXPECT_EQ(Format(u"test_title", {}), u"Second");
  UserTextSet(u"Test_Title", u"Third");
  EXPECT_EQ(Format(u"test_title", {}), u"Third");
}

TEST(UserText, PositionalArguments) {
  UserTextDefault(u"test_two_places", "Unable to extract \"%1\" to \"%2\".\n");
  EXPECT_EQ(Format(u"test_two_places", {u"a.exe", u"C:\\t"}), u"Unable to extract \"a.exe\" to \"C:\\t\".\n");
  EXPECT_EQ(Format(u"test_two_places", {u"a.exe"}), u"Unable to extract \"a.exe\" to \"missing_arg\".\n");
  EXPECT_EQ(Format(u"test_two_places", {u"a.exe", nullptr}),
            u"Unable to extract \"a.exe\" to \"missing_arg\".\n");
  // An argument's own percent signs are not interpreted.
  EXPECT_EQ(Format(u"test_two_places", {u"%2", u"x"}), u"Unable to extract \"%2\" to \"x\".\n");
}

TEST(UserText, PercentSigns) {
  UserTextDefault(u"test_percent", "%%1 is 100%% %0%a done %");
  EXPECT_EQ(Format(u"test_percent", {u"x"}), u"%1 is 100% 0a done ");
  UserTextDefault(u"test_only_percent", "%");
  EXPECT_EQ(Format(u"test_only_percent", {}), u"");
  UserTextDefault(u"test_utf8", "Gr\xc3\xb6\xc3\x9f" "e %1");
  EXPECT_EQ(Format(u"test_utf8", {u"\u00e9"}), u"Gr\u00f6\u00dfe \u00e9");
}

TEST(UserText, PoolFailureGivesTheErrorText) {
  UserTextDefault(u"test_arg", "value %1");
  kd_mp_c pool;
  PoolFailNextAllocations(1);
  EXPECT_EQ(std::u16string(UserTextGet1(&pool, u"test_arg", u"1")), u"usertext_error");
  // A text without arguments needs no copy.
  PoolFailNextAllocations(1);
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"locale_time_sep")), u":");
  PoolFailNextAllocations(0);
}

TEST(UserText, DataIsAcceptedWithoutErrors) {
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", "text test_title Localised\n", 26), 0u);
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", nullptr, 0), 0u);
}
