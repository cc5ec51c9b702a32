// The locale queries against a real locale: a small one compiled with localedef into a scratch
// folder and found through LOCPATH, as the environment would name an installed one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/test_support.h"
#include "usertext/locale_os.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
// glibc's newlocale never frees the search list it builds from LOCPATH.
using LocPathLeaks = __lsan::ScopedDisabler;
#else
struct LocPathLeaks {};
#endif

namespace {

// LC_NUMERIC and LC_TIME of a locale that differs from C in every setting the set-up reads.
constexpr char kLocaleSource[] =
    "comment_char %\n"
    "escape_char /\n"
    "LC_NUMERIC\n"
    "decimal_point \",\"\n"
    "thousands_sep \"<U202F>\"\n"
    "grouping 3;2\n"
    "END LC_NUMERIC\n"
    "LC_TIME\n"
    "t_fmt \"%H.%M.%S\"\n"
    "END LC_TIME\n";

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) had_ = true, old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::u16string Query(UtLocaleItem item) {
  char16_t buffer[50] = {};
  return LocaleQueryText(item, buffer, 50) ? buffer : u"<none>";
}

}  // namespace

TEST(LocalePosix, ReadsTheEnvironmentsLocale) {
  testing_support::ScratchDir dir;
  std::string source = dir.path() + "/xx_XX.src";
  std::ofstream(source) << kLocaleSource;
  std::string command = "localedef -c -i " + source + " -f UTF-8 " + dir.path() +
                        "/xx_XX.UTF-8 >/dev/null 2>&1";
  std::system(command.c_str());  // warns about the categories left out
  if (!std::ifstream(dir.path() + "/xx_XX.UTF-8/LC_NUMERIC")) GTEST_SKIP() << "no localedef";

  [[maybe_unused]] LocPathLeaks leaks;
  ScopedEnv path("LOCPATH", dir.path());
  ScopedEnv all("LC_ALL", "xx_XX.UTF-8");
  EXPECT_EQ(Query(UtLocaleItem::kDecimal), u",");
  EXPECT_EQ(Query(UtLocaleItem::kThousandSep), u"\u202f");
  EXPECT_EQ(Query(UtLocaleItem::kGrouping), u"3;2;0");
  EXPECT_EQ(Query(UtLocaleItem::kTimeSep).substr(0, 1), u".");
  // POSIX locales have no numeric negative form.
  EXPECT_EQ(Query(UtLocaleItem::kNegativeSign), u"<none>");
  uint32_t pattern = 7;
  EXPECT_FALSE(LocaleQueryNumber(UtLocaleItem::kNegativeNumber, &pattern));
}

TEST(LocalePosix, TheCLocaleSaysNothingAboutGroupingOrThousands) {
  ScopedEnv all("LC_ALL", "C");
  EXPECT_EQ(Query(UtLocaleItem::kDecimal), u".");
  EXPECT_EQ(Query(UtLocaleItem::kThousandSep), u"<none>");
  EXPECT_EQ(Query(UtLocaleItem::kGrouping), u"<none>");
  EXPECT_EQ(Query(UtLocaleItem::kTimeSep).substr(0, 1), u":");
  // A locale that isn't installed leaves every setting to the defaults.
  ScopedEnv missing("LC_ALL", "zz_ZZ.UTF-8");
  EXPECT_EQ(Query(UtLocaleItem::kDecimal), u"<none>");
}
