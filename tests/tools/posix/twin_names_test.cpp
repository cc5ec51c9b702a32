// Names that differ only in case, as genisoimage writes them into Joliet and UDF: ls, cat and
// extract each reach every twin by its own name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_support.h"
#include "tools/tool.h"
#include "tools/tool_run.h"

namespace {

std::string ReadText(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    std::fclose(f);
  }
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

TEST(TwinNames, EveryTwinIsReachedByItsOwnName) {
  testing_support::ScratchDir scratch;
  const std::string dir = scratch.path(), tree = dir + "/tree", iso = dir + "/twins.iso";
  ASSERT_EQ(std::system(("mkdir '" + tree + "'").c_str()), 0);
  std::string big;
  for (int i = 0; big.size() < 3893; ++i) big += "line " + std::to_string(i) + " of the larger twin\n";
  big.resize(3893);
  WriteText(tree + "/README", big);
  WriteText(tree + "/readme", "small\n");
  // Recipe: genisoimage -J -udf (UDF main root, Joliet beside it).
  ASSERT_EQ(std::system(("genisoimage -quiet -J -udf -o '" + iso + "' '" + tree + "' 2>/dev/null").c_str()), 0);

  ToolRun ls = RunTool({"ls", "-l", iso});
  ASSERT_EQ(ls.code, 0) << ls.err;
  EXPECT_NE(ls.out.find(" 3893 "), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("    6 "), std::string::npos) << ls.out;
  EXPECT_EQ(RunTool({"cat", iso, "README"}).out, big);
  EXPECT_EQ(RunTool({"cat", iso, "readme"}).out, "small\n");
  ToolRun joliet = RunTool({"cat", iso, ".$media/volume02/readme"});
  EXPECT_EQ(joliet.out, "small\n");

  ToolRun extract = RunTool({"extract", iso, "-C", dir + "/out"});
  ASSERT_EQ(extract.code, 0) << extract.err;
  EXPECT_EQ(ReadText(dir + "/out/README"), big);
  EXPECT_EQ(ReadText(dir + "/out/readme"), "small\n");
}

}  // namespace
