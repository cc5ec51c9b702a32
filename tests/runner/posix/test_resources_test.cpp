// The Linux test program's resource table, and the language taken from the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runner/resource_table.h"
#include "runner/resources.h"
#include "runner/test_resources.h"

namespace {

// UTF-16LE bytes of an ASCII text, with or without its NUL.
template <size_t N>
struct Utf16Le {
  uint8_t bytes[2 * N] = {};
  constexpr Utf16Le(const char (&s)[N]) {
    for (size_t i = 0; i < N; ++i) bytes[2 * i] = uint8_t(s[i]);
  }
};

constexpr Utf16Le kOne("1");
constexpr Utf16Le kYes("YES");
constexpr Utf16Le kOnBlanks(" on ");
constexpr Utf16Le kHex("0x1");
constexpr Utf16Le kNo("no");
constexpr Utf16Le kZero("0");
constexpr Utf16Le kWord("maybe");
constexpr Utf16Le kEmpty("");
constexpr uint8_t kOdd[] = {'a', 0, 'b', 0, 'c', 0, 'd'};

#define TEXT_OPTION(name, text) {"OPTION", name, sizeof text.bytes, text.bytes, sizeof text.bytes}
constexpr RsrcSpec kTestResources[] = {
    TEXT_OPTION("TEST_ONE_NUL", kOne),
    {"OPTION", "TEST_ODD", sizeof kOdd, kOdd, sizeof kOdd},
    TEXT_OPTION("TEST_YES_CAPS", kYes),
    TEXT_OPTION("TEST_ON_BLANKS", kOnBlanks),
    TEXT_OPTION("TEST_HEX", kHex),
    TEXT_OPTION("TEST_NO", kNo),
    TEXT_OPTION("TEST_ZERO", kZero),
    TEXT_OPTION("TEST_WORD", kWord),
    TEXT_OPTION("TEST_EMPTY_TEXT", kEmpty),
    {"OPTION", "TEST_SIZE_ZERO", 0},
    {"LZMAFILE", "TEST_HELLO", sizeof kTestHelloBlob, kTestHelloBlob, sizeof kTestHelloBlob},
    {"LZMAFILE", "TEST_SHORT", 13, kTestHelloBlob, 13},
};
#undef TEXT_OPTION
ISORUN_RESOURCE_TABLE(kTestTable, kTestResources);

// Sets (or, with null, removes) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

}  // namespace

TEST(PosixResources, LanguageComesFromTheFirstLocaleVariableSet) {
  ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
  EXPECT_EQ(ReadLanguage(), u"ENU");
  {
    ScopedEnv l("LANG", "fr_FR.UTF-8");
    EXPECT_EQ(ReadLanguage(), u"FRA");
    ScopedEnv m("LC_MESSAGES", "it_IT");
    EXPECT_EQ(ReadLanguage(), u"ITA");
    ScopedEnv a("LC_ALL", "de_DE.UTF-8");
    EXPECT_EQ(ReadLanguage(), u"DEU");
    ScopedEnv empty("LC_ALL", "");  // an empty variable counts as unset
    EXPECT_EQ(ReadLanguage(), u"ITA");
  }
}

TEST(PosixResources, TablesAreFoundPastEachOtherAndMalformedOnesStopTheSearch) {
  RsrcLocation at;
  const uint8_t* table = kTestTable.bytes;
  ASSERT_TRUE(rsrc_table_find(table, sizeof kTestTable.bytes, u"lzmafile", u"Test_Hello", &at));
  EXPECT_EQ(at.size, sizeof kTestHelloBlob);
  // Zero padding in front of a table is skipped; a cut table is not trusted.
  std::string padded(32, '\0');
  padded.append(reinterpret_cast<const char*>(table), sizeof kTestTable.bytes);
  auto* bytes = reinterpret_cast<const uint8_t*>(padded.data());
  EXPECT_TRUE(rsrc_table_find(bytes, padded.size(), u"OPTION", u"TEST_NO", &at));
  EXPECT_FALSE(rsrc_table_find(bytes, padded.size() - 16, u"OPTION", u"TEST_NO", &at));
  EXPECT_FALSE(rsrc_table_find(bytes, padded.size(), u"OPTION", u"TEST_N", &at));
  EXPECT_FALSE(rsrc_table_find(bytes, padded.size(), u"OPTION", u"TEST_NO_MORE", &at));
}
