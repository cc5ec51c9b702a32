// Glob matching, including the limit on how many "*" can stretch, checked against a plain
// backtracking matcher that keeps every "*" on a stack.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/text.h"

namespace {

bool Glob(const std::u16string& pattern, const std::u16string& subject) {
  return GlobMatch(pattern.data(), static_cast<ptrdiff_t>(pattern.size()), subject.data(),
                   static_cast<ptrdiff_t>(subject.size()));
}

// The reference: each "*" met while the subject has characters left is pushed (up to the
// limit) with the subject position one past the current character; a failure pops the newest
// and tries again from there. Patterns and subjects here are single units.
bool StackGlob(const std::u16string& p, const std::u16string& s) {
  struct Star {
    size_t p, s;
  };
  Star stars[kGlobMaxStars];
  size_t n = 0, pi = 0, si = 0;
  for (;;) {
    if (pi < p.size() && p[pi] == u'*') {
      if (si < s.size() && n < kGlobMaxStars) stars[n++] = {pi, si + 1};
      ++pi;
      continue;
    }
    if (pi < p.size() && si < s.size() && (p[pi] == u'?' || p[pi] == s[si])) {
      ++pi, ++si;
      continue;
    }
    if (pi == p.size() && si == s.size()) return true;
    if (n == 0) return false;
    --n;
    pi = stars[n].p, si = stars[n].s;
  }
}

std::u16string Repeat(const std::u16string& part, size_t count) {
  std::u16string out;
  for (size_t i = 0; i < count; ++i) out += part;
  return out;
}

TEST(GlobMatch, StarsAndQuestionMarks) {
  EXPECT_TRUE(Glob(u"*.txt", u"readme.txt"));
  EXPECT_FALSE(Glob(u"*.txt", u"readme.txt.bak"));
  EXPECT_FALSE(Glob(u"?", u""));
  EXPECT_TRUE(Glob(u"**", u""));
  EXPECT_TRUE(Glob(u"", u""));
  EXPECT_FALSE(Glob(u"", u"a"));
  EXPECT_TRUE(Glob(u"a*b*c", u"aXbYbZc"));
  EXPECT_FALSE(Glob(u"a*b*c", u"aXbYbZ"));
  EXPECT_TRUE(Glob(u"disk?.cab", u"disk1.cab"));
  EXPECT_FALSE(Glob(u"disk?.cab", u"disk10.cab"));
  EXPECT_FALSE(Glob(u"A*", u"a"));  // case counts
}

TEST(GlobMatch, QuestionMarkTakesAWholeCodePoint) {
  EXPECT_TRUE(Glob(u"?", u"\xD83D\xDE00"));
  EXPECT_TRUE(Glob(u"a?b", u"a\xD83D\xDE00" u"b"));
  EXPECT_FALSE(Glob(u"??", u"\xD83D\xDE00"));
}

TEST(GlobMatch, LengthsAndNullTexts) {
  EXPECT_TRUE(GlobMatch(u"*.txtIGNORED", 5, u"a.txt", -1));
  EXPECT_TRUE(GlobMatch(u"a", -1, u"abc", 1));
  EXPECT_TRUE(GlobMatch(nullptr, -1, nullptr, -1));
  EXPECT_TRUE(GlobMatch(u"*", -1, nullptr, 0));
  EXPECT_FALSE(GlobMatch(nullptr, -1, u"a", -1));
}

TEST(AsciiGlobMatchNoCase, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(AsciiGlobMatchNoCase(u"*.TXT", -1, u"readme.txt", -1));
  EXPECT_TRUE(AsciiGlobMatchNoCase(u"Setup*", -1, u"SETUP.EXE", -1));
  EXPECT_FALSE(AsciiGlobMatchNoCase(u"\u00E9", -1, u"\u00C9", -1));
  // By unit: "?" takes one half of a pair.
  EXPECT_TRUE(AsciiGlobMatchNoCase(u"??", -1, u"\xD83D\xDE00", -1));
}

TEST(GlobMatch, OnlyTheFirstFiftyStarsStretch) {
  // 50 stars, each pinned by an "a", leave the last one free to take the "b".
  const std::u16string subject = Repeat(u"a", 49) + u"bc";
  const std::u16string fifty = Repeat(u"*a", 49) + u"*c";
  EXPECT_TRUE(Glob(fifty, subject));
  // With a 51st star nothing can take the "b": that star is never recorded. (The stack
  // matcher would need about 2^50 steps to say so.)
  const std::u16string subject51 = Repeat(u"a", 50) + u"bc";
  const std::u16string fifty_one = Repeat(u"*a", 50) + u"*c";
  EXPECT_FALSE(Glob(fifty_one, subject51));
  // Unpinned stars share the work: 51 of them in a row still match.
  EXPECT_TRUE(Glob(Repeat(u"*", 51) + u"b", u"ab"));
  EXPECT_TRUE(StackGlob(Repeat(u"*", 51) + u"b", u"ab"));
  EXPECT_TRUE(Glob(Repeat(u"*", 200), u"anything"));
}

TEST(GlobMatch, HostilePatternsFinishQuickly) {
  // A stack of stars retried against each other is exponential here; one remembered star is not.
  const std::u16string pattern = Repeat(u"*a", 45) + u"*b";
  EXPECT_FALSE(Glob(pattern, std::u16string(4000, u'a')));
  EXPECT_TRUE(Glob(pattern, std::u16string(4000, u'a') + u"b"));
}

TEST(GlobMatch, AgreesWithTheStackMatcher) {
  std::mt19937 rng(20240601);
  const char16_t pattern_units[] = u"ab*?*";
  const char16_t subject_units[] = u"ab?*";
  for (int round = 0; round < 20000; ++round) {
    std::u16string p, s;
    for (size_t n = rng() % 9; n > 0; --n) p += pattern_units[rng() % 5];
    for (size_t n = rng() % 9; n > 0; --n) s += subject_units[rng() % 4];
    ASSERT_EQ(Glob(p, s), StackGlob(p, s)) << "pattern " << testing::PrintToString(p)
                                            << " subject " << testing::PrintToString(s);
  }
}

}  // namespace
