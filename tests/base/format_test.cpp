#include "base/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/pool.h"

namespace {

// Measures with capacity 0, then fills a buffer of exactly that size; both runs must agree.
template <typename Unit>
std::basic_string<Unit> Measured(size_t (*format)(Unit*, size_t, const Unit*, va_list),
                                 const Unit* fmt, va_list args) {
  va_list measure;
  va_copy(measure, args);
  size_t len = format(nullptr, 0, fmt, measure);
  va_end(measure);
  std::basic_string<Unit> out(len + 1, Unit('#'));
  EXPECT_EQ(format(out.data(), out.size(), fmt, args), len);
  EXPECT_EQ(out[len], 0);
  out.resize(len);
  return out;
}

std::u16string F(const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::u16string out = Measured(TextFormatV, fmt, args);
  va_end(args);
  return out;
}

std::string F8(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = Measured(TextFormat8V, fmt, args);
  va_end(args);
  return out;
}

struct IntCase {
  const char16_t* fmt;
  int32_t value;
  const char16_t* expected;
};

TEST(TextFormat, IntegerConversions) {
  const IntCase cases[] = {
      {u"%05d", -42, u"-0042"},       {u"%+d", 5, u"+5"},           {u"%+d", -5, u"-5"},
      {u"% d", 5, u" 5"},             {u"%#x", 0, u"0x0"},          {u"%#o", 8, u"010"},
      {u"%-05d", 42, u"00042"},       {u"%5d", 42, u"   42"},       {u"%-5d|", 42, u"42   |"},
      {u"%.3d", 7, u"007"},           {u"%.0d", 0, u"0"},           {u"%x", 255, u"ff"},
      {u"%#X", 255, u"0XFF"},         {u"%u", -1, u"4294967295"},   {u"%hd", 0x18000, u"-32768"},
      {u"%hu", 0x18000, u"32768"},    {u"%I8d", 0x1FF, u"-1"},      {u"%I8u", 0x1FF, u"255"},
      {u"%I16x", -1, u"ffff"},        {u"%ld", INT32_MIN, u"-2147483648"},
      {u"%p", 0x1234abcd, u"1234abcd"}, {u"%P", 0xab, u"AB"},       {u"%+u", 5, u"5"},
      // with a precision, the zeros are the larger of its fill and the padding, not the sum
      {u"%08.4d", 42, u"000042"},     {u"%08.6d", 42, u"000042"},   {u"%08.4d", -42, u"-00042"},
      {u"%08.2d", 42, u"00000042"},   {u"%#8x", 255, u"    0xff"}, {u"%#08x", 255, u"0x0000ff"},
  };
  for (const IntCase& c : cases) EXPECT_EQ(F(c.fmt, c.value), c.expected) << &c - cases;
}

TEST(TextFormat, SixtyFourBitArgumentsKeepTheirSlots) {
  // On i686 a 64-bit vararg takes eight bytes; the next argument must still be found.
  EXPECT_EQ(F(u"%I64i %d", int64_t{1} << 40, 7), u"1099511627776 7");
  EXPECT_EQ(F(u"%lld", INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(F(u"%I64u", UINT64_MAX), u"18446744073709551615");
  EXPECT_EQ(F(u"%I64X|%s", uint64_t{0xDEADBEEF00000001}, u"x"), u"DEADBEEF00000001|x");
  EXPECT_EQ(F8("%I32d %I64o", -1, uint64_t{8}), "-1 10");
}

TEST(TextFormat, WidthAndPrecisionFromArguments) {
  EXPECT_EQ(F(u"%*d", 5, 42), u"   42");
  EXPECT_EQ(F(u"%*d|", -5, 42), u"42   |");  // a negative width left-justifies
  EXPECT_EQ(F(u"%.*s", 2, u"abcdef"), u"ab");
  EXPECT_EQ(F(u"%.*s", -1, u"abc"), u"abc");
  EXPECT_EQ(F(u"%i%s%02i", 1, u":", 2), u"1:02");
}

TEST(TextFormat, TextConversions) {
  EXPECT_EQ(F(u"%5s", u"ab"), u"   ab");
  EXPECT_EQ(F(u"%-5s|", u"ab"), u"ab   |");
  EXPECT_EQ(F(u"%.2s", u"abcdef"), u"ab");
  EXPECT_EQ(F(u"%5.2s", u"abcdef"), u"abcde");  // the width raises the limit
  EXPECT_EQ(F(u"%s|%hs|%S", nullptr, nullptr, nullptr), u"(null)|(null)|(null)");
  // precision counts code points, so a pair is never split
  EXPECT_EQ(F(u"%.1s", u"\U0001F600x"), u"\U0001F600");
  EXPECT_EQ(F(u"%3s", u"\U0001F600"), u"  \U0001F600");
}

TEST(TextFormat, TextCrossesEncodings) {
  EXPECT_EQ(F(u"%hs|%S|%I8s|%ls", "\xC3\xA9", "\xF0\x9F\x98\x80", "a", u"b"),
            u"\u00E9|\U0001F600|a|b");
  EXPECT_EQ(F8("%s|%S|%ls|%I16s|%hs", "\xC3\xA9", u"\u00E9", u"\U0001F600", u"z", "h"),
            "\xC3\xA9|\xC3\xA9|\xF0\x9F\x98\x80|z|h");
  EXPECT_EQ(F(u"%hs", "a\x80" "b"), u"a\uFFFF" "b");  // malformed UTF-8 is replaced, not fatal
  EXPECT_EQ(F8("%.1s|", "\xC3\xA9\xC3\xA9"), "\xC3\xA9|");
  EXPECT_EQ(F8("\xC3\xA9%%\xFF"), "\xC3\xA9%\xFF");  // the format's own bytes are copied
}

TEST(TextFormat, Characters) {
  EXPECT_EQ(F(u"%c%w%C%hc%lc", 'a', 0xE9, 'b', 'c', 0x3A9), u"a\u00E9bc\u03A9");
  EXPECT_EQ(F(u"%hc", 0xE9), u"\uFFFF");  // a lone byte above 0x7F is not UTF-8
  EXPECT_EQ(F8("%c%C%w", 'a', 0xE9, 0x20AC), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(F(u"[%I64c][%I64c]", uint64_t{1} << 32 | 'x', uint64_t{'y'}), u"[][y]");
  EXPECT_EQ(F(u"[%3c][%-3c][%c]", 'a', 'b', 0), u"[  a][b  ][]");
}

TEST(TextFormat, Guids) {
  uint8_t guid[16];
  for (int i = 0; i < 16; ++i) guid[i] = uint8_t(i * 0x11);
  EXPECT_EQ(F(u"%r", guid), u"33221100-5544-7766-8899-aabbccddeeff");
  EXPECT_EQ(F8("%R", guid), "33221100-5544-7766-8899-AABBCCDDEEFF");
  EXPECT_EQ(F(u"%.8r|%38r", guid, guid), u"33221100|  33221100-5544-7766-8899-aabbccddeeff");
  EXPECT_EQ(F(u"%r", nullptr), u"(null)");
}

TEST(TextFormat, Times) {
  EXPECT_EQ(F(u"%T", uint64_t{0}), u"1601-01-01 00:00:00.000");
  EXPECT_EQ(F(u"%T", uint64_t{133536836967890000}), u"2024-02-29 12:34:56.789");
  EXPECT_EQ(F(u"%T", uint64_t{INT64_MAX}), u"30828-09-14 02:48:05.477");
  EXPECT_EQ(F(u"%t|%t", 0, INT32_MAX), u"1970-01-01 00:00:00|2038-01-19 03:14:07");
  EXPECT_EQ(F(u"%t", -1), u"1969-12-31 23:59:59");
  EXPECT_EQ(F8("%I64t|%d", int64_t{4102444800 + 86399}, 5), "2100-01-01 23:59:59|5");
  EXPECT_EQ(F(u"%.10T", uint64_t{0}), u"1601-01-01");
}

TEST(TextFormat, StoresCountBySize) {
  uint8_t block[24];
  std::memset(block, 0xAA, sizeof block);
  EXPECT_EQ(F8("abc%hnde%I8nf%nxy%I64n", block, block + 4, block + 8, block + 16), "abcdefxy");
  EXPECT_EQ(block[0] | block[1] << 8, 3);
  EXPECT_EQ(block[2], 0xAA);  // 16 bits only
  EXPECT_EQ(block[4], 5);
  EXPECT_EQ(block[5], 0xAA);
  uint32_t n32;
  std::memcpy(&n32, block + 8, 4);
  EXPECT_EQ(n32, 6u);
  uint64_t n64;
  std::memcpy(&n64, block + 16, 8);
  EXPECT_EQ(n64, 8u);
  // The count is of the whole result, also past a cut-off.
  char16_t small[2];
  int32_t count = 0;
  EXPECT_EQ(TextFormat(small, 2, u"%5s%n", u"x", &count), 5u);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(F(u"a%nb", nullptr), u"ab");
}

TEST(TextFormat, OddFormats) {
  EXPECT_EQ(F(u"x%Iy"), u"xy");          // a lone I is the conversion
  EXPECT_EQ(F(u"x%I6d"), u"x6d");
  EXPECT_EQ(F(u"a%yb%-%c"), u"abc");     // unknown conversions print nothing
  EXPECT_EQ(F(u"ab%"), u"ab");
  EXPECT_EQ(F(u"ab%-5.3l"), u"ab");
  EXPECT_EQ(F8(nullptr), "");
}

TEST(TextFormat, CutsAtCapacityOnCharacterBoundaries) {
  const std::u16string full = u"ab\U0001F600cd";
  for (size_t cap = 0; cap <= full.size() + 1; ++cap) {
    char16_t buf[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(TextFormat(buf, cap, u"a%s%hs", u"b\U0001F600", "cd"), full.size());
    if (cap == 0) {
      EXPECT_EQ(buf[0], u'#');
      continue;
    }
    std::u16string got(buf);
    EXPECT_EQ(full.compare(0, got.size(), got), 0) << cap;
    EXPECT_TRUE(got.size() == cap - 1 || (got.size() == 2 && cap == 4)) << cap;  // pair kept whole
    EXPECT_EQ(buf[cap], u'#');
  }
  char out[4];
  EXPECT_EQ(TextFormat8(out, 3, "a%s", "\xC3\xA9"), 3u);
  EXPECT_STREQ(out, "a");
  // A huge width is counted, not written.
  EXPECT_EQ(TextFormat8(out, sizeof out, "%2000000000d", 1), 2000000000u);
  EXPECT_STREQ(out, "   ");
}

TEST(TextFormatPool, ShortAndLongTexts) {
  kd_mp_c pool;
  char16_t* short_text = TextFormatPool(&pool, u"%d-%s", 12, u"ab");
  ASSERT_NE(short_text, nullptr);
  EXPECT_EQ(std::u16string(short_text), u"12-ab");
  char16_t* long_text = TextFormatPool(&pool, u"%150s|%d", u"x", 7);
  ASSERT_NE(long_text, nullptr);
  EXPECT_EQ(std::u16string(long_text), std::u16string(149, u' ') + u"x|7");
  PoolFailNextAllocations(1);
  EXPECT_EQ(TextFormatPool(&pool, u"%d", 1), nullptr);
}

struct NumberCase {
  int64_t value;
  uint32_t form, min_digits;
  const char16_t* expected;
};

TEST(NumberToText, Forms) {
  const NumberCase cases[] = {
      {255, kFormHex, 0, u"0xFF"},       {-5, kFormSigned, 0, u"-5"},
      {1, kFormTrueFalse, 0, u"true"},   {7, 0, 3, u"007"},
      {0, kFormYesNo, 0, u"no"},         {1, kFormYesNo, 0, u"yes"},
      {1, kFormYesNo | kFormYN, 0, u"y"},  {0, kFormTrueFalse | kFormYesNo, 0, u"no"},
      {1, kFormEnabledDisabled | kFormED, 0, u"enabled"}, {0, kFormED, 0, u"d"},
      {2, kFormTrueFalse, 0, u"2"},      {-1, 0, 0, u"18446744073709551615"},
      {INT64_MIN, kFormSigned, 0, u"-9223372036854775808"},
      {-1, kFormHex, 0, u"0xFFFFFFFFFFFFFFFF"}, {-3, kFormSigned, 3, u"-003"},
      {5, 0, 99, u"000000000000000000000000005"},  // at most 27 digits
  };
  for (const NumberCase& c : cases) {
    char16_t buf[40];
    size_t len = NumberToText(buf, 40, c.value, c.form, c.min_digits);
    EXPECT_EQ(std::u16string(buf), c.expected) << &c - cases;
    EXPECT_EQ(len, std::u16string(c.expected).size());
  }
  char16_t small[3];
  EXPECT_EQ(NumberToText(small, 3, 255, kFormHex, 0), 4u);
  EXPECT_EQ(std::u16string(small), u"0x");
}

struct ParseCase {
  const char16_t* text;
  ptrdiff_t len;
  int64_t value;
  uint32_t form;
};

TEST(ParseNumberOrBool, WordsAndNumbers) {
  const ParseCase cases[] = {
      {u" \tTRUE \r\n", -1, 1, kFormTrueFalse}, {u"0x1F", -1, 31, kFormHex},
      {u"-0x10", -1, -16, kFormHex | kFormSigned}, {u"12abc", -1, 12, 0},
      {u"abc", -1, 0, 0},  {u"o", -1, 0, 0},  {u"yesterday", -1, 1, kFormYesNo},
      {u"", -1, 0, 0},     {u" \v ", -1, 0, 0}, {nullptr, -1, 0, 0},
      {u"d", -1, 0, kFormED}, {u"E", -1, 1, kFormED},
      {u"t", -1, 1, kFormTF}, {u"F", -1, 0, kFormTF},
      {u"y", -1, 1, kFormYN}, {u"n", -1, 0, kFormYN}, {u"No", -1, 0, kFormYesNo},
      {u"Disabled", -1, 0, kFormEnabledDisabled}, {u"disable", -1, 0, kFormEnableDisable},
      {u"enabled", -1, 1, kFormEnabledDisabled}, {u"ENABLE", -1, 1, kFormEnableDisable},
      {u"on", -1, 1, kFormOnOff}, {u"Off", -1, 0, kFormOnOff}, {u"false", -1, 0, kFormTrueFalse},
      {u"tru", -1, 0, 0},  {u"0x", -1, 0, 0}, {u"0xg", -1, 0, 0}, {u"+7", -1, 7, 0},
      {u"-", -1, 0, 0},    {u"-12", -1, -12, kFormSigned}, {u"18446744073709551617", -1, 1, 0},
      {u"12345", 2, 12, 0}, {u"yes", 2, 0, 0}, {u"4\0" u"2", 3, 4, 0}, {u"-0xfFz", -1, -255, 3},
  };
  for (const ParseCase& c : cases) {
    uint32_t form = 0xDEAD;
    EXPECT_EQ(ParseNumberOrBool(c.text, c.len, &form), c.value) << &c - cases;
    EXPECT_EQ(form, c.form) << &c - cases;
  }
  EXPECT_EQ(ParseNumberOrBool(u"0x10", -1), 16);  // the form is optional
}

}  // namespace
