// The UTF-8 / UTF-16 coders, the conversions between them, pool copies and comparisons.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

#include "base/pool.h"

namespace {

struct Decoded {
  uint32_t cp;
  size_t pos;
};

Decoded Decode8(const std::string& bytes, size_t pos = 0) {
  uint32_t cp = Utf8Decode(bytes.data(), bytes.size(), &pos);
  return {cp, pos};
}

Decoded Decode16(const std::u16string& units, size_t pos = 0) {
  uint32_t cp = Utf16Decode(units.data(), units.size(), &pos);
  return {cp, pos};
}

std::string Encode8(uint32_t cp) {
  char buf[8];
  size_t pos = 0;
  Utf8Encode(cp, buf, sizeof buf, &pos);
  return std::string(buf, pos);
}

std::u16string ToUtf16(const std::string& s, size_t cap = 64) {
  std::u16string out(cap, u'#');
  Utf8ToUtf16(out.data(), cap, s.data(), static_cast<ptrdiff_t>(s.size()));
  return out.c_str();
}

std::string ToUtf8(const std::u16string& s, size_t cap = 64) {
  std::string out(cap, '#');
  Utf16ToUtf8(out.data(), cap, s.data(), static_cast<ptrdiff_t>(s.size()));
  return out.c_str();
}

void ExpectDecode8(const std::string& bytes, uint32_t cp, size_t pos) {
  Decoded d = Decode8(bytes);
  EXPECT_EQ(d.cp, cp) << testing::PrintToString(bytes);
  EXPECT_EQ(d.pos, pos) << testing::PrintToString(bytes);
}

TEST(Utf8Decode, WellFormedSequences) {
  ExpectDecode8("A", 'A', 1);
  ExpectDecode8("\xC3\xA9", 0xE9, 2);
  ExpectDecode8("\xE2\x82\xAC", 0x20AC, 3);
  ExpectDecode8("\xF0\x9F\x98\x80", 0x1F600, 4);
  ExpectDecode8(std::string("\0x", 2), 0, 1);
}

TEST(Utf8Decode, OverlongAndSurrogateFormsAreAccepted) {
  ExpectDecode8("\xC0\x80", 0, 2);
  ExpectDecode8("\xE0\x80\xAF", '/', 3);
  ExpectDecode8("\xED\xA0\x80", 0xD800, 3);
  ExpectDecode8("\xF7\xBF\xBF\xBF", 0x1FFFFF, 4);
}

TEST(Utf8Decode, MalformedInputAdvancesOneByte) {
  ExpectDecode8("\x80", kInvalidCodePoint, 1);        // stray continuation
  ExpectDecode8("\xBF\x80", kInvalidCodePoint, 1);
  ExpectDecode8("\xF8\x88\x80\x80\x80", kInvalidCodePoint, 1);
  ExpectDecode8("\xFF", kInvalidCodePoint, 1);
  ExpectDecode8("\xE2\x82", kInvalidCodePoint, 1);    // cut by the length
  ExpectDecode8("\xE2\x41\x42", kInvalidCodePoint, 1);  // cut by a non-continuation byte
  ExpectDecode8("\xC3", kInvalidCodePoint, 1);
  // The byte after a malformed lead is read afresh.
  EXPECT_EQ(Decode8("\xE2\x41", 1).cp, 'A');
}

TEST(Utf8Decode, AtTheEndYieldsZeroAndStays) {
  Decoded d = Decode8("ab", 2);
  EXPECT_EQ(d.cp, 0u);
  EXPECT_EQ(d.pos, 2u);
}

TEST(Utf8Encode, LongFormsByRange) {
  EXPECT_EQ(Encode8(0x7F), "\x7F");
  EXPECT_EQ(Encode8(0x80), "\xC2\x80");
  EXPECT_EQ(Encode8(0x7FF), "\xDF\xBF");
  EXPECT_EQ(Encode8(0x800), "\xE0\xA0\x80");
  EXPECT_EQ(Encode8(0xFFFF), "\xEF\xBF\xBF");
  EXPECT_EQ(Encode8(0x10000), "\xF0\x90\x80\x80");
  EXPECT_EQ(Encode8(0x1FFFFF), "\xF7\xBF\xBF\xBF");
  EXPECT_EQ(Encode8(0x200000), "\xF8\x88\x80\x80\x80");
  EXPECT_EQ(Encode8(0x4000000), "\xFC\x84\x80\x80\x80\x80");
  EXPECT_EQ(Encode8(0x7FFFFFFE), "\xFD\xBF\xBF\xBF\xBF\xBE");
  EXPECT_EQ(Encode8(0x7FFFFFFF), "\xFF");
  EXPECT_EQ(Encode8(kInvalidCodePoint), "\xFF");
}

TEST(Utf8Encode, RoundTripsThroughTheDecoder) {
  for (uint32_t cp : {0x1u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD800u, 0xFFFFu, 0x10000u, 0x10FFFFu,
                      0x1FFFFFu}) {
    Decoded d = Decode8(Encode8(cp));
    EXPECT_EQ(d.cp, cp);
    EXPECT_EQ(d.pos, Encode8(cp).size());
  }
}

TEST(Utf8Encode, WritesWhatFitsAndAdvancesFully) {
  char buf[4] = {'x', 'x', 'x', 'x'};
  size_t pos = 1;
  Utf8Encode(0x20AC, buf, 3, &pos);
  EXPECT_EQ(pos, 4u);
  EXPECT_EQ(std::string(buf, 4), "x\xE2\x82x");
  pos = 0;
  Utf8Encode(0x20AC, nullptr, 0, &pos);
  EXPECT_EQ(pos, 3u);
}

TEST(Utf16Coding, SurrogatePairs) {
  Decoded d = Decode16(u"\xD800\xDC00");
  EXPECT_EQ(d.cp, 0x10000u);
  EXPECT_EQ(d.pos, 2u);
  EXPECT_EQ(Decode16(u"\xDBFF\xDFFF").cp, 0x10FFFFu);
  char16_t buf[2];
  size_t pos = 0;
  Utf16Encode(0x10000, buf, 2, &pos);
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(buf[0], 0xD800);
  EXPECT_EQ(buf[1], 0xDC00);
}

TEST(Utf16Coding, UnpairedSurrogatesAdvanceOneUnit) {
  for (const std::u16string& s : {std::u16string(u"\xD800"), std::u16string(u"\xDC00\xD800"),
                                  std::u16string(u"\xD800x"), std::u16string(u"\xD800\xD800")}) {
    Decoded d = Decode16(s);
    EXPECT_EQ(d.cp, kInvalidCodePoint);
    EXPECT_EQ(d.pos, 1u);
  }
  // A high surrogate whose partner lies past the length stays unpaired.
  size_t pos = 0;
  EXPECT_EQ(Utf16Decode(u"\xD800\xDC00", 1, &pos), kInvalidCodePoint);
}

TEST(Utf16Coding, OutOfRangeEncodesAsFFFFAndPairsNeverHalfWritten) {
  char16_t buf[3] = {u'x', u'x', u'x'};
  size_t pos = 0;
  Utf16Encode(kInvalidCodePoint, buf, 3, &pos);
  Utf16Encode(0x110000, buf, 3, &pos);
  EXPECT_EQ(buf[0], 0xFFFF);
  EXPECT_EQ(buf[1], 0xFFFF);
  Utf16Encode(0x10000, buf, 3, &pos);  // one unit of room left
  EXPECT_EQ(pos, 4u);
  EXPECT_EQ(buf[2], u'x');
}

TEST(Utf8ToUtf16, ConvertsAndReplacesMalformedBytes) {
  EXPECT_EQ(ToUtf16("h\xC3\xA9"), u"h\u00E9");
  EXPECT_EQ(ToUtf16("\x80" "a"), u"\xFFFF" u"a");
  EXPECT_EQ(ToUtf16("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");
  EXPECT_EQ(ToUtf16(std::string("ab\0cd", 5)), u"ab");
  char16_t out[4] = {u'x'};
  EXPECT_EQ(Utf8ToUtf16(out, 4, nullptr, -1), 0u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(Utf8ToUtf16(out, 4, "abc", -1), 3u);
}

TEST(Utf8ToUtf16, MeasuresThenCutsBetweenCharacters) {
  EXPECT_EQ(Utf8ToUtf16(nullptr, 0, "abc", -1), 3u);
  char16_t out[3] = {u'x', u'x', u'x'};
  EXPECT_EQ(Utf8ToUtf16(out, 2, "abc", -1), 3u);
  EXPECT_EQ(std::u16string(out), u"a");
  // The pair and the terminator do not both fit behind "a": the text ends before the pair,
  // and nothing after it is written either.
  EXPECT_EQ(Utf8ToUtf16(out, 3, "a\xF0\x90\x80\x80" "b", -1), 4u);
  EXPECT_EQ(std::u16string(out), u"a");
}

TEST(Utf16ToUtf8, CutsOnlyBetweenWholeSequences) {
  EXPECT_EQ(ToUtf8(u"h\u00E9\u20AC"), "h\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(ToUtf8(u"a\u00E9", 3), "a");
  EXPECT_EQ(Utf16ToUtf8(nullptr, 0, u"a\u00E9", -1), 3u);
  EXPECT_EQ(ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}

TEST(Utf16ToUtf8, UnpairedSurrogatesSurviveTheRoundTrip) {
  const std::u16string odd = u"a\xDC00" u"b\xD800";
  EXPECT_EQ(ToUtf8(odd), "a\xED\xB0\x80" "b\xED\xA0\x80");
  EXPECT_EQ(ToUtf16(ToUtf8(odd)), odd);
}

TEST(TextPool, CopiesShortAndLongTexts) {
  kd_mp_c pool;
  char16_t* short_copy = Utf8ToUtf16Pool(&pool, "h\xC3\xA9", -1);
  ASSERT_NE(short_copy, nullptr);
  EXPECT_EQ(std::u16string(short_copy), u"h\u00E9");
  const std::string long_text(250, 'z');
  char16_t* long_copy = Utf8ToUtf16Pool(&pool, long_text.c_str(), -1);
  ASSERT_NE(long_copy, nullptr);
  EXPECT_EQ(std::u16string(long_copy), std::u16string(250, u'z'));
  char* back = Utf16ToUtf8Pool(&pool, long_copy, -1);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::string(back), long_text);
  EXPECT_EQ(std::string(Utf16ToUtf8Pool(&pool, u"ab", 1)), "a");
}

TEST(TextPool, FailureGivesNull) {
  kd_mp_c pool;
  PoolFailNextAllocations(1);
  EXPECT_EQ(Utf8ToUtf16Pool(&pool, "abc", -1), nullptr);
  PoolFailNextAllocations(1);
  EXPECT_EQ(Utf16ToUtf8Pool(&pool, u"abc", -1), nullptr);
  PoolFailNextAllocations(0);
  EXPECT_EQ(Utf8ToUtf16Pool(nullptr, "abc", -1), nullptr);
}

TEST(CompareNoCase, FoldsToLowerCase) {
  EXPECT_LT(CompareNoCase(u"_", -1, u"a", -1), 0);
  EXPECT_LT(CompareNoCase(u"_", -1, u"A", -1), 0);
  EXPECT_EQ(CompareNoCase(u"\u212A", -1, u"k", -1), 0);
  EXPECT_EQ(CompareNoCase(u"\u00C9T\u00C9", -1, u"\u00E9t\u00E9", -1), 0);
  EXPECT_EQ(CompareNoCase(u"\xD801\xDC00", -1, u"\xD801\xDC28", -1), 0);  // U+10400 / U+10428
  // No full folding: sharp s stays apart from "ss".
  EXPECT_NE(CompareNoCase(u"STRASSE", -1, u"stra\u00DFe", -1), 0);
}

TEST(CompareNoCase, LengthsPrefixesAndNullTexts) {
  EXPECT_LT(CompareNoCase(u"ab", -1, u"abc", -1), 0);
  EXPECT_GT(CompareNoCase(u"abc", -1, u"AB", -1), 0);
  EXPECT_EQ(CompareNoCase(u"abX", 2, u"AB", -1), 0);
  EXPECT_EQ(CompareNoCase(nullptr, -1, u"", -1), 0);
  EXPECT_LT(CompareNoCase(nullptr, 0, u"a", 1), 0);
  // An unpaired surrogate reads as the invalid marker and sorts after every code point.
  EXPECT_GT(CompareNoCase(u"\xD800", -1, u"\xDBFF\xDFFF", -1), 0);
}

TEST(Utf8CompareNoCase, FoldsDecodedCodePoints) {
  EXPECT_EQ(Utf8CompareNoCase("\xC3\x89t\xC3\xA9", -1, "\xC3\xA9T\xC3\x89", -1), 0);
  EXPECT_EQ(Utf8CompareNoCase("\xE2\x84\xAA", -1, "K", -1), 0);
  EXPECT_LT(Utf8CompareNoCase("_", -1, "A", -1), 0);
  EXPECT_LT(Utf8CompareNoCase("a", -1, "ab", 2), 0);
  EXPECT_GT(Utf8CompareNoCase("\x80", -1, "\xF4\x8F\xBF\xBF", -1), 0);
  EXPECT_EQ(Utf8CompareNoCase("\x80x", -1, "\xFFX", -1), 0);
}

TEST(AsciiCompareNoCase, OnlyAsciiLettersFold) {
  EXPECT_EQ(AsciiCompareNoCase(u"Path", -1, u"PATH", -1), 0);
  EXPECT_GT(AsciiCompareNoCase(u"_", -1, u"a", -1), 0);  // "a" reads as "A" (0x41)
  EXPECT_NE(AsciiCompareNoCase(u"\u00E9", -1, u"\u00C9", -1), 0);
  EXPECT_LT(AsciiCompareNoCase(u"ab", -1, u"ABC", -1), 0);
}

TEST(CompareCodePoints, OrdersByCodePointNotByUnit) {
  EXPECT_GT(CompareCodePoints(u"\xD800\xDC00", -1, u"\xFFFF", -1), 0);
  EXPECT_LT(CompareCodePoints(u"A", -1, u"a", -1), 0);
  EXPECT_EQ(CompareCodePoints(u"abc", -1, u"abc", 3), 0);
  EXPECT_LT(CompareCodePoints(u"", -1, u"\x01", -1), 0);
}

}  // namespace
