// FoldCase against the checked-in Unicode 5.0 data: every mapped code point folds to its
// listed target, every other code point to itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "base/text.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t kLastCodePoint = 0x10FFFF;

// The pairs of tests/base/data/casefold-5.0.txt ("CODE FOLDED" in hex, "#" lines are notes).
std::map<uint32_t, uint32_t> LoadFoldingData() {
  std::map<uint32_t, uint32_t> pairs;
  std::string path = testing_support::SourceDir() + "/tests/base/data/casefold-5.0.txt";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return pairs;
  char line[128];
  while (std::fgets(line, sizeof line, f)) {
    unsigned from, to;
    if (line[0] != '#' && std::sscanf(line, "%x %x", &from, &to) == 2) pairs[from] = to;
  }
  std::fclose(f);
  return pairs;
}

TEST(FoldCase, MatchesTheUnicodeDataForEveryCodePoint) {
  const std::map<uint32_t, uint32_t> pairs = LoadFoldingData();
  ASSERT_EQ(pairs.size(), 934u) << "data file missing or changed";
  size_t wrong = 0;
  for (uint32_t cp = 0; cp <= kLastCodePoint; ++cp) {
    auto it = pairs.find(cp);
    uint32_t expected = it == pairs.end() ? cp : it->second;
    if (FoldCase(cp) != expected && ++wrong <= 10)
      ADD_FAILURE() << std::hex << "U+" << cp << " folds to " << FoldCase(cp) << ", expected " << expected;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(FoldCase, KnownFoldings) {
  EXPECT_EQ(FoldCase('A'), uint32_t('a'));
  EXPECT_EQ(FoldCase(0xB5), 0x3BCu);     // micro sign
  EXPECT_EQ(FoldCase(0x17F), uint32_t('s'));  // long s
  EXPECT_EQ(FoldCase(0x212A), uint32_t('k'));  // Kelvin sign
  EXPECT_EQ(FoldCase(0x10400), 0x10428u);
  EXPECT_EQ(FoldCase(0x10427), 0x1044Fu);
}

TEST(FoldCase, LeavesOtherStatusesAndLaterCharactersAlone) {
  EXPECT_EQ(FoldCase(0xDF), 0xDFu);      // full folding only
  EXPECT_EQ(FoldCase(0x130), 0x130u);    // Turkic and full only
  EXPECT_EQ(FoldCase(0x1E9E), 0x1E9Eu);  // assigned after 5.0
  EXPECT_EQ(FoldCase(0x13F8), 0x13F8u);  // assigned after 5.0
  for (uint32_t cp : {0x110000u, 0xFFFFu, 0x7FFFFFFFu, kInvalidCodePoint}) EXPECT_EQ(FoldCase(cp), cp);
}

}  // namespace
