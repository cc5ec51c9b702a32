#include "tools/tool.h"

#include <gtest/gtest.h>

namespace {

int Dummy(const tool::Invocation&) { return 0; }

const tool::Command kCommand = {
    "demo", "a command for the tests", "FILE",
    {{"output", 'o', "FILE", "where to write"}, {"json", 0, nullptr, "machine-readable output"}},
    Dummy};

int ParseArgs(std::vector<std::string> words, tool::Invocation* inv) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  return tool::Parse(kCommand, static_cast<int>(argv.size()), argv.data(), inv);
}

TEST(ToolOptions, LongShortInlineAndPositional) {
  tool::Invocation inv;
  ASSERT_EQ(ParseArgs({"in.iso", "-o", "a", "--json", "--output=b", "--", "-x"}, &inv), tool::kExitOk);
  EXPECT_TRUE(inv.Has("json"));
  EXPECT_EQ(inv.Value("output"), "b");  // the last one wins
  EXPECT_EQ(inv.args, (std::vector<std::string>{"in.iso", "-x"}));
  tool::Invocation short_inline;
  ASSERT_EQ(ParseArgs({"-oc"}, &short_inline), tool::kExitOk);
  EXPECT_EQ(short_inline.Value("output"), "c");
}

TEST(ToolOptions, MistakesAreUsageErrors) {
  tool::Invocation a, b, c;
  EXPECT_EQ(ParseArgs({"--nope"}, &a), tool::kExitUsage);
  EXPECT_EQ(ParseArgs({"-o"}, &b), tool::kExitUsage);
  EXPECT_EQ(ParseArgs({"--json=1"}, &c), tool::kExitUsage);
}

TEST(ToolOptions, Sizes) {
  uint64_t v = 0;
  EXPECT_TRUE(tool::ParseSize("2048", &v));
  EXPECT_EQ(v, 2048u);
  EXPECT_TRUE(tool::ParseSize("4M", &v));
  EXPECT_EQ(v, 4u << 20);
  EXPECT_TRUE(tool::ParseSize("650MiB", &v));
  EXPECT_EQ(v, 650ull << 20);
  EXPECT_TRUE(tool::ParseSize("1k", &v));
  EXPECT_EQ(v, 1024u);
  EXPECT_FALSE(tool::ParseSize("", &v));
  EXPECT_FALSE(tool::ParseSize("12X", &v));
  EXPECT_FALSE(tool::ParseSize("99999999999999999999", &v));
  EXPECT_FALSE(tool::ParseSize("16777216T", &v));
}

}  // namespace
