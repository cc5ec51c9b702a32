// The runner's resources: option texts, LZMA blobs and the user's language. The test program
// carries the runner's own reserved options and a few test entries of its own (test_resources
// in the platform folder), so find_resource runs on real resources of this program.
#include "runner/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/pool.h"
#include "image/lzma_block.h"
#include "support/lzma_blob.h"

using testing_support::MakeLzmaBlob;
using testing_support::PutLe;
using testing_support::SampleText;

namespace {

std::u16string Text(const char16_t* s) { return s ? std::u16string(s) : u"(null)"; }

bool OptionBool(const char16_t* name, bool start) {
  bool flag = start;
  read_option_bool(name, &flag);
  return flag;
}

std::string Blob(const uint8_t* data, uint32_t length) {
  return data ? std::string(reinterpret_cast<const char*>(data), length) : "(null)";
}

}  // namespace

TEST(Resources, FindsTheProgramsOwnResources) {
  uint32_t size = 99;
  const uint8_t* run_exe = find_resource(u"option", u"run_exe", &size);
  ASSERT_NE(run_exe, nullptr);
  EXPECT_EQ(size, 520u);  // the reserved block
  EXPECT_EQ(find_resource(u"OPTION", u"Use_Stderr", &size), find_resource(u"option", u"use_stderr", &size));
  EXPECT_EQ(size, 64u);
  EXPECT_EQ(find_resource(u"option", u"no_such_option", &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(find_resource(u"lzmafile", u"run_exe", &size), nullptr);
  EXPECT_EQ(find_resource(nullptr, u"run_exe", &size), nullptr);
  EXPECT_EQ(find_resource(u"option", nullptr, &size), nullptr);
  // A resource of size 0 counts as missing.
  EXPECT_EQ(find_resource(u"option", u"test_size_zero", &size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST(Resources, OptionTexts) {
  kd_mp_c pool;
  // The reserved blocks are empty texts; a missing option is empty too, not null.
  EXPECT_EQ(Text(read_option_text(&pool, u"run_exe")), u"");
  EXPECT_EQ(Text(read_option_text(&pool, u"no_such_option")), u"");
  EXPECT_EQ(Text(read_option_text(&pool, u"test_one_nul")), u"1");
  EXPECT_EQ(Text(read_option_text(&pool, u"test_odd")), u"abc");  // 7 bytes: 3 units
  EXPECT_EQ(Text(read_option_text(&pool, u"test_on_blanks")), u" on ");

  const uint8_t odd[] = {'x', 0, 'y'};
  EXPECT_EQ(Text(decode_option_text(&pool, odd, 3)), u"x");
  EXPECT_EQ(Text(decode_option_text(&pool, odd, 1)), u"");
  EXPECT_EQ(Text(decode_option_text(&pool, nullptr, 0)), u"");
  PoolFailNextAllocations(1);
  EXPECT_EQ(read_option_text(&pool, u"test_one_nul"), nullptr);
}

TEST(Resources, BooleanOptions) {
  EXPECT_TRUE(OptionBool(u"test_one_nul", false));
  EXPECT_TRUE(OptionBool(u"test_yes_caps", false));
  EXPECT_TRUE(OptionBool(u"test_on_blanks", false));
  EXPECT_TRUE(OptionBool(u"test_hex", false));
  EXPECT_FALSE(OptionBool(u"test_no", true));
  EXPECT_FALSE(OptionBool(u"test_zero", true));
  EXPECT_FALSE(OptionBool(u"test_word", true));
  // Missing or empty: the flag keeps its value.
  EXPECT_TRUE(OptionBool(u"test_empty_text", true));
  EXPECT_FALSE(OptionBool(u"test_empty_text", false));
  EXPECT_TRUE(OptionBool(u"no_such_option", true));
  EXPECT_TRUE(OptionBool(u"use_stderr", true));  // reserved, zero-filled
  EXPECT_FALSE(OptionBool(u"use_stderr", false));
}

TEST(Resources, LzmaBlobFromTheProgram) {
  kd_mp_c pool;
  uint32_t length = 99;
  uint8_t* data = read_lzma_blob(&pool, u"test_hello", &length);  // before Blob reads length
  EXPECT_EQ(Blob(data, length), "text hello \"resource blob\"\n");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(0, std::memcmp(data + length, "\0\0\0\0", 4));
  EXPECT_EQ(read_lzma_blob(&pool, u"test_short", &length), nullptr);  // exactly 13 bytes
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(read_lzma_blob(&pool, u"no_such_blob", &length), nullptr);
  EXPECT_EQ(read_lzma_blob(&pool, nullptr, &length), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST(Resources, LzmaBlobRules) {
  kd_mp_c pool;
  std::string text = SampleText(40000);
  auto blob = MakeLzmaBlob(text);
  auto decode = [&](const std::vector<uint8_t>& b, uint32_t* length) {
    return decode_lzma_blob(&pool, b.data(), uint32_t(b.size()), length);
  };
  uint32_t length = 0;
  uint8_t* data = decode(blob, &length);
  EXPECT_EQ(Blob(data, length), text);
  data = decode(MakeLzmaBlob(text, true), &length);
  EXPECT_EQ(Blob(data, length), text);

  auto truncated = blob;
  truncated.resize(blob.size() - 10);
  EXPECT_EQ(decode(truncated, &length), nullptr);  // short decode
  EXPECT_EQ(length, 0u);
  truncated.resize(13);
  EXPECT_EQ(decode(truncated, &length), nullptr);
  truncated.resize(14);
  EXPECT_EQ(decode(truncated, &length), nullptr);

  auto edited = blob;
  PutLe(edited, 5, 0, 8);
  EXPECT_EQ(decode(edited, &length), nullptr);
  EXPECT_EQ(length, 0u);
  PutLe(edited, 5, 0x7FFFFFFF, 8);
  EXPECT_EQ(decode(edited, &length), nullptr);
  EXPECT_EQ(length, 0x7FFFFFFFu);  // reported with the null result
  PutLe(edited, 5, 0x80000000u, 8);
  EXPECT_EQ(decode(edited, &length), nullptr);
  EXPECT_EQ(length, 0u);

  edited = blob;
  edited[0] = 0xE1;  // properties out of range
  EXPECT_EQ(decode(edited, &length), nullptr);
  EXPECT_EQ(length, text.size());

  edited = blob;
  PutLe(edited, 5, text.size() - 1, 8);  // the stream holds more than declared
  EXPECT_EQ(decode(edited, &length), nullptr);
  EXPECT_EQ(length, 0u);
  PutLe(edited, 5, text.size() + 1, 8);  // and less
  EXPECT_EQ(decode(edited, &length), nullptr);

  PoolFailNextAllocations(1);
  EXPECT_EQ(decode(blob, &length), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST(Resources, LanguageFromLocale) {
  struct Case {
    const char* locale;
    const char16_t* name;
  } cases[] = {
      {"de_DE.UTF-8", u"DEU"}, {"de_AT.UTF-8", u"DEA"}, {"de", u"DEU"},     {"en_US.UTF-8", u"ENU"},
      {"en_GB", u"ENG"},       {"fr_CA@euro", u"FRC"},  {"pt_BR", u"PTB"},  {"pt_PT", u"PTG"},
      {"ja_JP.eucJP", u"JPN"}, {"zh_TW.UTF-8", u"CHT"}, {"zh_CN", u"CHS"},  {"C", u"ENU"},
      {"POSIX", u"ENU"},       {"", u"ENU"},            {nullptr, u"ENU"},  {"xx_YY", u"ENU"},
      {"dee", u"ENU"},         {"de_", u"DEU"},
  };
  for (const Case& c : cases) {
    char16_t out[4] = {1, 1, 1, 1};
    language_name_from_locale(c.locale, out);
    EXPECT_EQ(Text(out), c.name) << (c.locale ? c.locale : "(null)");
  }
}
