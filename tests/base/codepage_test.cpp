// Code-page conversions: UTF-8 (65001), a single-byte page (1252), a double-byte page (932),
// the ANSI / locale page and a page the system does not know.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace {

constexpr uint32_t kWestern = 1252;
constexpr uint32_t kJapanese = 932;
constexpr uint32_t kNoSuchPage = 12345;

std::u16string ToUtf16(uint32_t page, const std::string& bytes, size_t cap = 64) {
  std::u16string out(cap, u'#');
  CodePageToUtf16(page, out.data(), cap, bytes.data(), static_cast<ptrdiff_t>(bytes.size()));
  return out.c_str();
}

std::string ToUtf8(uint32_t page, const std::string& bytes) {
  char out[64];
  CodePageToUtf8(page, out, sizeof out, bytes.data(), static_cast<ptrdiff_t>(bytes.size()));
  return out;
}

std::string FromUtf16(uint32_t page, const std::u16string& text, size_t cap = 64) {
  std::string out(cap, '#');
  Utf16ToCodePage(page, out.data(), cap, text.data(), static_cast<ptrdiff_t>(text.size()));
  return out.c_str();
}

TEST(CodePage, Utf8PageUsesTheOwnCoders) {
  EXPECT_EQ(ToUtf16(kCodePageUtf8, "h\xC3\xA9\xF0\x9F\x98\x80"), u"h\u00E9\xD83D\xDE00");
  EXPECT_EQ(ToUtf16(kCodePageUtf8, "\x80" "a"), u"\xFFFF" u"a");
  EXPECT_EQ(ToUtf8(kCodePageUtf8, "\xC3\xA9\xFF"), "\xC3\xA9\xEF\xBF\xBF");
  // Outside the basic plane, and unpaired surrogates, become 0x7F.
  EXPECT_EQ(FromUtf16(kCodePageUtf8, u"\u00E9\xD83D\xDE00\xDC00"), "\xC3\xA9\x7F\x7F");
}

TEST(CodePage, SingleBytePage) {
  EXPECT_EQ(ToUtf16(kWestern, "caf\xE9 \x80"), u"caf\u00E9 \u20AC");
  EXPECT_EQ(ToUtf8(kWestern, "\xE9"), "\xC3\xA9");
  EXPECT_EQ(FromUtf16(kWestern, u"\u00E9\u20AC"), "\xE9\x80");
  // No look-alikes: a letter the page lacks is 0x7F, not a plain "A".
  EXPECT_EQ(FromUtf16(kWestern, u"\u0100\u3042" u"a"), "\x7F\x7F" "a");
  EXPECT_EQ(FromUtf16(kWestern, u"\xD83D\xDE00"), "\x7F");
}

TEST(CodePage, DoubleBytePage) {
  EXPECT_EQ(ToUtf16(kJapanese, "a\x82\xA0" "b"), u"a\u3042" u"b");
  EXPECT_EQ(ToUtf8(kJapanese, "\x82\xA0"), "\xE3\x81\x82");
  // A lead byte in the last place, also when a 0 byte ends the text behind it.
  EXPECT_EQ(ToUtf16(kJapanese, "a\x82"), u"a\xFFFF");
  EXPECT_EQ(ToUtf16(kJapanese, std::string("a\x82\0\xA0", 4)), u"a\xFFFF");
  EXPECT_EQ(FromUtf16(kJapanese, u"\u3042" u"a"), "\x82\xA0" "a");
}

TEST(CodePage, CountsFullyAndCutsBetweenCharacters) {
  const std::u16string text = u"a\u3042" u"b";
  EXPECT_EQ(Utf16ToCodePage(kJapanese, nullptr, 0, text.data(), -1), 4u);
  EXPECT_EQ(FromUtf16(kJapanese, text, 3), "a");
  EXPECT_EQ(FromUtf16(kJapanese, text, 4), "a\x82\xA0");
  EXPECT_EQ(CodePageToUtf16(kJapanese, nullptr, 0, "\x82\xA0\x82\xA0", -1), 2u);
  EXPECT_EQ(ToUtf16(kJapanese, "\x82\xA0\x82\xA0", 2), u"\u3042");
}

TEST(CodePage, AnsiPageKeepsAscii) {
  EXPECT_EQ(ToUtf16(0, "Setup 1.0"), u"Setup 1.0");
  EXPECT_EQ(FromUtf16(0, u"Setup 1.0"), "Setup 1.0");
  EXPECT_EQ(FromUtf16(0, u"\xD83D\xDE00"), "\x7F");
  char out[4] = {'x'};
  EXPECT_EQ(CodePageToUtf16(0, nullptr, 0, nullptr, -1), 0u);
  EXPECT_EQ(Utf16ToCodePage(0, out, sizeof out, nullptr, -1), 0u);
  EXPECT_EQ(out[0], 0);
}

TEST(CodePage, UnknownPageConvertsNothing) {
  EXPECT_EQ(ToUtf16(kNoSuchPage, "ab"), u"\xFFFF\xFFFF");
  EXPECT_EQ(FromUtf16(kNoSuchPage, u"ab"), "\x7F\x7F");
}

}  // namespace
