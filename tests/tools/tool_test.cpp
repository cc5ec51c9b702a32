#include "tools/tool.h"

#include <gtest/gtest.h>

namespace {

int Dummy(const tool::Invocation&) { return 0; }

const tool::Command kCommand = {
    "demo", "a command for the tests", "FILE",
    {{"output", 'o', "FILE", "where to write"},
     {"json", 0, nullptr, "machine-readable output"},
     {"long", 'l', nullptr, "long form"},
     {"recursive", 'R', nullptr, "into subdirectories"}},
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

// Bundles read as getopt reads them: flags one by one, and the first letter that takes a value
// takes the rest of the word or else the next argument.
TEST(ToolOptions, BundledShortOptions) {
  struct Case {
    std::vector<std::string> words;
    bool long_form, recursive;
    std::string output;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {{"-lR", "f.iso"}, true, true, "", {"f.iso"}},
      {{"-Rl"}, true, true, "", {}},
      {{"-lo", "out", "in"}, true, false, "out", {"in"}},
      {{"-Rlox.bin", "in"}, true, true, "x.bin", {"in"}},
      {{"-oR", "in"}, false, false, "R", {"in"}},  // the value, not a flag
      {{"-", "--output=", "--", "-lR"}, false, false, "", {"-", "-lR"}},
  };
  for (const Case& c : cases) {
    tool::Invocation inv;
    ASSERT_EQ(ParseArgs(c.words, &inv), tool::kExitOk) << c.words[0];
    EXPECT_EQ(inv.Has("long"), c.long_form) << c.words[0];
    EXPECT_EQ(inv.Has("recursive"), c.recursive) << c.words[0];
    EXPECT_EQ(inv.Value("output"), c.output) << c.words[0];
    EXPECT_EQ(inv.args, c.args) << c.words[0];
  }
}

TEST(ToolOptions, MistakesAreUsageErrors) {
  for (std::vector<std::string> words : std::vector<std::vector<std::string>>{
           {"--nope"}, {"--nope=1"}, {"-o"}, {"--json=1"}, {"-lx"}, {"-lo"}, {"--output"}}) {
    tool::Invocation inv;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseArgs(words, &inv), tool::kExitUsage) << words[0];
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("isorun: demo: ", 0), 0u) << err;
  }
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
