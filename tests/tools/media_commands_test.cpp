// isorun ls and cat, run in-process on a hand-made ISO 9660 image in a scratch folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "isofs/image_builder.h"
#include "support/test_support.h"
#include "tools/tool.h"
#include "tools/tool_run.h"

namespace {

class MediaCommands : public testing::Test {
 protected:
  void SetUp() override {
    using namespace isofs_test;
    Image img(40);
    PutVolumeDescriptor(img, 16, 1, 1, "DEMO", "", 20, kSector);
    PutDirectory(img, 20, kSector, {{"README.TXT;1", 30, 5}, {"SUB", 22, kSector, 2}});
    PutDirectory(img, 22, kSector, {{"DATA.BIN;1", 31, 3000}});
    img.Fill(30, "hello");
    // Text bytes: the captured output is read back in text mode on Windows.
    for (uint32_t i = 0; i < 3000; ++i) *img.At(31, i) = uint8_t('a' + i * 7 % 26);
    data.assign(img.At(31), img.At(31) + 3000);
    image = dir.path() + "/demo.iso";
    FILE* f = std::fopen(image.c_str(), "wb");
    std::fwrite(img.bytes.data(), 1, img.bytes.size(), f);
    std::fclose(f);
  }
  testing_support::ScratchDir dir;
  std::string image;
  std::vector<uint8_t> data;
};

TEST_F(MediaCommands, ListsNamesLongFormAndRecursively) {
  EXPECT_EQ(RunTool({"ls", image}).out, "README.TXT\nSUB\n");
  EXPECT_EQ(RunTool({"ls", image, "SUB"}).out, "DATA.BIN\n");
  ToolRun r = RunTool({"ls", "-l", "-R", image});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "---            5 2000-01-02 03:04:05 README.TXT\n"
            "d--            0 2000-01-02 03:04:05 SUB\n"
            "---         3000 2000-01-02 03:04:05 SUB/DATA.BIN\n");
  ToolRun all = RunTool({"ls", "--all", image});
  EXPECT_EQ(all.out, ".$media\nREADME.TXT\nSUB\n");
  EXPECT_EQ(RunTool({"ls", image, ".$media"}).out, "image.iso\nvolume01\n");
}

TEST_F(MediaCommands, CatWritesTheFileBytes) {
  ToolRun r = RunTool({"cat", image, "sub/data.bin"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), data);
  EXPECT_EQ(RunTool({"cat", image, "README.TXT"}).out, "hello");
  EXPECT_EQ(RunTool({"cat", image, "README.TXT", "/readme.txt"}).out, "hellohello");
}

TEST_F(MediaCommands, ErrorsAreOneLineAndNonZero) {
  ToolRun missing = RunTool({"ls", image, "nothing/here"});
  EXPECT_EQ(missing.code, tool::kExitFailure);
  EXPECT_NE(missing.err.find("(error 3)"), std::string::npos) << missing.err;
  ToolRun directory = RunTool({"cat", image, "SUB"});
  EXPECT_EQ(directory.code, tool::kExitFailure);
  EXPECT_NE(directory.err.find("is a directory"), std::string::npos);
  EXPECT_EQ(RunTool({"cat", image}).code, tool::kExitUsage);
  std::string not_image = dir.path() + "/text.txt";
  FILE* f = std::fopen(not_image.c_str(), "wb");
  std::fputs("just text", f);
  std::fclose(f);
  ToolRun bad = RunTool({"ls", not_image});
  EXPECT_EQ(bad.code, tool::kExitFailure);
  EXPECT_NE(bad.err.find("(error 11)"), std::string::npos) << bad.err;
}

}  // namespace
