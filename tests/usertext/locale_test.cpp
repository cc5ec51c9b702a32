#include "usertext/locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/pool.h"
#include "usertext/user_text.h"

namespace {

// Settings a test hands to the locale set-up in place of the system's.
struct FakeLocale {
  const char16_t* sign;
  bool has_pattern;
  uint32_t pattern;
  const char16_t* thousands;
  const char16_t* grouping;
  const char16_t* decimal;
  const char16_t* time;
};
const FakeLocale* g_fake;

bool FakeText(UtLocaleItem item, char16_t* buffer, size_t capacity) {
  const char16_t* text = nullptr;
  switch (item) {
    case UtLocaleItem::kNegativeSign: text = g_fake->sign; break;
    case UtLocaleItem::kThousandSep: text = g_fake->thousands; break;
    case UtLocaleItem::kGrouping: text = g_fake->grouping; break;
    case UtLocaleItem::kDecimal: text = g_fake->decimal; break;
    case UtLocaleItem::kTimeSep: text = g_fake->time; break;
    default: break;
  }
  if (!text) return false;
  std::u16string s(text);
  s.resize(std::min(s.size(), capacity - 1));
  std::copy(s.begin(), s.end(), buffer);
  buffer[s.size()] = 0;
  return true;
}

bool FakeNumber(UtLocaleItem, uint32_t* value) {
  if (!g_fake->has_pattern) return false;
  *value = g_fake->pattern;
  return true;
}

// The stored text: "%1" given as the argument stands for itself.
std::u16string Text(const char16_t* id) {
  kd_mp_c pool;
  return UserTextGet1(&pool, id, u"%1");
}

// Applies fake settings to the program's table, starting from the defaults, and puts the
// system's settings back afterwards.
class LocaleEntries : public testing::Test {
 protected:
  static constexpr const char16_t* const* kIds[] = {&kUtLocaleDecimal, &kUtLocaleNegFormat,
                                                    &kUtLocaleThousGrouping, &kUtLocaleThousSep,
                                                    &kUtLocaleTimeSep};
  void Apply(const FakeLocale& fake) {
    g_fake = &fake;
    ApplyLocaleSettings({FakeText, FakeNumber});
  }
  void Reset() {
    const char16_t* defaults[] = {u".", u"-%1", u"3;0", u",", u":"};
    for (size_t i = 0; i < 5; ++i) UserTextSet(*kIds[i], defaults[i]);
  }
  void SetUp() override {
    for (size_t i = 0; i < 5; ++i) saved_[i] = Text(*kIds[i]);
    Reset();
  }
  void TearDown() override {
    for (size_t i = 0; i < 5; ++i) UserTextSet(*kIds[i], saved_[i].c_str());
  }

 private:
  std::u16string saved_[5];
};

std::u16string Elapsed(int64_t duration) {
  kd_mp_c pool;
  return FormatElapsedTime(&pool, duration);
}

constexpr int64_t kMs = 10000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kHour = 3600 * kSecond;

}  // namespace

TEST_F(LocaleEntries, NegativePatterns) {
  struct Case {
    bool has_pattern;
    uint32_t pattern;
    const char16_t* sign;
    const char16_t* expected;
  } cases[] = {
      {true, 0, u"-", u"(%1)"},  {true, 1, u"-", u"-%1"},  {true, 2, u"-", u"- %1"},
      {true, 3, u"-", u"%1-"},   {true, 4, u"-", u"%1 -"}, {true, 5, u"-", u"-%1"},
      {false, 0, u"~", u"-%1"},  {true, 2, u"\u2212\u2212", u"\u2212 %1"},
      {true, 3, nullptr, u"%1-"}, {true, 4, u"", u"%1 -"},
  };
  for (const Case& c : cases) {
    Reset();
    Apply({c.sign, c.has_pattern, c.pattern, nullptr, nullptr, nullptr, nullptr});
    EXPECT_EQ(Text(kUtLocaleNegFormat), c.expected) << "case " << (&c - cases);
  }
}

TEST_F(LocaleEntries, SeparatorsKeepTheirFirstUnitAndFailedQueriesKeepTheEntry) {
  std::u16string long_grouping;
  for (int i = 0; i < 30; ++i) long_grouping += u"3;";
  Apply({nullptr, false, 0, u"\u00a0x", long_grouping.c_str(), u",,", u"."});
  EXPECT_EQ(Text(kUtLocaleThousSep), u"\u00a0");
  EXPECT_EQ(Text(kUtLocaleThousGrouping), long_grouping.substr(0, 49));
  EXPECT_EQ(Text(kUtLocaleDecimal), u",");
  EXPECT_EQ(Text(kUtLocaleTimeSep), u".");
  Apply({nullptr, false, 0, nullptr, nullptr, nullptr, nullptr});
  EXPECT_EQ(Text(kUtLocaleDecimal), u",");
  EXPECT_EQ(Text(kUtLocaleNegFormat), u"-%1");
}

TEST_F(LocaleEntries, ElapsedTime) {
  struct Case {
    int64_t duration;
    const char16_t* expected;
  } cases[] = {
      {kHour + 2 * 60 * kSecond + 3 * kSecond + 4 * kMs, u"1:02:03.004"},
      {0, u"0:00:00.000"},
      {kMs - 1, u"0:00:00.000"},
      {-kMs, u"-0:00:00.001"},
      {25 * kHour, u"25:00:00.000"},
      {59 * 60 * kSecond + 59 * kSecond + 999 * kMs, u"0:59:59.999"},
      {INT64_MIN, u"-256204778:48:05.477"},
  };
  for (const Case& c : cases) EXPECT_EQ(Elapsed(c.duration), c.expected) << c.duration;

  Apply({nullptr, true, 0, nullptr, nullptr, u",", u"."});
  EXPECT_EQ(Elapsed(-kMs), u"(0.00.00,001)");
  // Test mode's prefixes reach the formatted time the same way.
  UserTextSet(kUtLocaleTimeSep, u"(locale_time_sep) :");
  EXPECT_EQ(Elapsed(kSecond), u"0(locale_time_sep) :00(locale_time_sep) :01,000");
}

TEST(LocaleHelpers, GroupingFromByteCounts) {
  struct Case {
    const char* counts;
    bool ok;
    const char16_t* expected;
  } cases[] = {
      {"\3", true, u"3;0"},      {"\3\2", true, u"3;2;0"}, {"\3\x7f", true, u"3"},
      {"\3\3\xff", true, u"3;3"}, {"\x7f", true, u"0"},    {"", false, u""},
      {"\x7e", true, u"126;0"},
  };
  for (const Case& c : cases) {
    char16_t out[50] = {};
    EXPECT_EQ(GroupingFromByteCounts(c.counts, out, 50), c.ok) << "case " << (&c - cases);
    if (c.ok) {
      EXPECT_EQ(std::u16string(out), c.expected) << "case " << (&c - cases);
    }
  }
  char16_t small[3];
  EXPECT_TRUE(GroupingFromByteCounts("\3\2", small, 3));
  EXPECT_EQ(std::u16string(small), u"3;");
}

TEST(LocaleHelpers, TimeSeparatorInFormat) {
  struct Case {
    const char* format;
    const char* separator;  // first character expected, or null
  } cases[] = {
      {"%H:%M:%S", ":"}, {"%H.%M.%S", "."}, {"%T", ":"},     {"%p %I:%M", ":"},
      {"%OH\xe6\x99\x82%OM", "\xe6\x99\x82"}, {"%-H h %M", " "},  {"%Y-%m-%d", nullptr},
      {"%", nullptr},    {"%H", nullptr},    {"%H%M", nullptr}, {"", nullptr},
  };
  for (const Case& c : cases) {
    const char* found = TimeSeparatorInFormat(c.format);
    if (!c.separator) {
      EXPECT_EQ(found, nullptr) << c.format;
    } else {
      ASSERT_NE(found, nullptr) << c.format;
      EXPECT_EQ(std::string(found).substr(0, std::strlen(c.separator)), c.separator) << c.format;
    }
  }
}
