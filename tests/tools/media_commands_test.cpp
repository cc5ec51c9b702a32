// isorun ls, cat and info's volumes, run in-process on hand-made images in a scratch folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "isofs/image_builder.h"
#include "support/test_support.h"
#include "tools/tool.h"
#include "tools/tool_run.h"

namespace {

void WriteImage(const std::string& path, const isofs_test::Image& img) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(img.bytes.data(), 1, img.bytes.size(), f);
  std::fclose(f);
}

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
    WriteImage(image, img);
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

// SUB lists itself twice: the walk fails the first time a directory points back at an
// ancestor, with one error line, instead of a listing whose width doubles at every level.
TEST_F(MediaCommands, RecursiveListingOfADirectoryThatHoldsItselfFails) {
  using namespace isofs_test;
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "LOOP", "", 20, kSector);
  PutDirectory(img, 20, kSector, {{"SUB", 22, kSector, 2}});
  PutDirectory(img, 22, kSector, {{"A", 22, kSector, 2}, {"B", 22, kSector, 2}});
  std::string looped = dir.path() + "/loop.iso";
  WriteImage(looped, img);
  ToolRun r = RunTool({"ls", "-R", looped});
  EXPECT_EQ(r.code, tool::kExitFailure);
  EXPECT_NE(r.err.find("SUB/A cannot be read whole"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(error 11)"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
  EXPECT_LT(r.out.size(), 65536u);
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

// info names every volume directory of ".$media" with its kind and label, and the main root:
// the Joliet volume after a primary one, the UDF volume over ISO 9660.
TEST_F(MediaCommands, InfoNamesVolumesAndTheMainRoot) {
  EXPECT_NE(RunTool({"info", image}).out.find("volumes:      1\n"
                                              "  volume01: ISO 9660, label \"DEMO\", made 2001-02-03 04:05:06 UTC\n"
                                              "main root:    volume01\n"),
            std::string::npos);

  using namespace isofs_test;
  Image joliet(40);
  PutVolumeDescriptor(joliet, 16, 1, 1, "PRIMARY", "", 20, kSector);
  PutVolumeDescriptor(joliet, 17, 2, 1, Ucs2("WIDE            "), "%/E", 22, kSector);
  PutTerminator(joliet, 18);
  PutDirectory(joliet, 20, kSector, {{"A.TXT;1", 30, 1}});
  PutDirectory(joliet, 22, kSector, {{Ucs2("a.txt"), 30, 1}});
  WriteImage(dir.path() + "/joliet.iso", joliet);
  ToolRun text = RunTool({"info", dir.path() + "/joliet.iso"});
  EXPECT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("  volume01: ISO 9660, label \"PRIMARY\""), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  volume02: Joliet, label \"WIDE\""), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("main root:    volume02\n"), std::string::npos) << text.out;

  UdfLayout l;
  Image udf(l.sectors);
  PutUdfVolume(udf, l);
  PutVolumeDescriptor(udf, 16, 1, 1, "BRIDGE", "", 22, kSector);
  PutTerminator(udf, 17);
  PutRecognition(udf, 18, "BEA01");
  PutRecognition(udf, 19, "NSR02");
  PutRecognition(udf, 20, "TEA01");
  PutDirectory(udf, 22, kSector, {});
  PutFileSet(udf, l.partition_start + l.fsd_block, l);
  Bytes fids = Fids({{""}});
  std::copy(fids.begin(), fids.end(), udf.At(l.partition_start + 2));
  FileEntry root;
  root.file_type = 4;
  root.descriptors = ShortAds({{uint32_t(fids.size()), 2}});
  PutFileEntry(udf, l.partition_start + l.root_block, root);
  WriteImage(dir.path() + "/udf.iso", udf);
  ToolRun json = RunTool({"info", "--json", dir.path() + "/udf.iso"});
  EXPECT_EQ(json.code, 0);
  EXPECT_NE(json.out.find("\"volumes\": [{\"name\": \"udf\", \"type\": \"UDF\", \"label\": \"LVLABEL\", "
                          "\"time\": \"2004-04-05 05:07:08\", \"main_root\": true, \"rock_ridge\": false}, {\"name\": \"volume01\", "
                          "\"type\": \"ISO 9660\", \"label\": \"BRIDGE\""),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"main_root\": \"udf\"}\n"), std::string::npos) << json.out;
}

// An image the reader takes but whose descriptors make no volume is still described.
TEST_F(MediaCommands, InfoWithoutAFileSystem) {
  std::string blank = dir.path() + "/blank.iso";
  isofs_test::Image img(40);
  isofs_test::PutRecognition(img, 16, "BEA01");  // an extended area that holds nothing
  WriteImage(blank, img);
  ToolRun text = RunTool({"info", blank});
  EXPECT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("volumes:      none readable (error 11)\n"), std::string::npos) << text.out;
  ToolRun json = RunTool({"info", "--json", blank});
  EXPECT_NE(json.out.find("\"volumes\": [], \"main_root\": null, \"volumes_error\": 11}"), std::string::npos) << json.out;
}

}  // namespace
