// isorun extract, run in-process on hand-made images: what it refuses (links already in the
// directory, unsafe or empty names, trees nested too deep) and the message that says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "isofs/image_builder.h"
#include "support/test_support.h"
#include "tools/tool.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;
using namespace isofs_test;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ExtractCommand : public testing::Test {
 protected:
  // Writes the image into the scratch folder and returns its path.
  std::string WriteImage(Image& img, const std::string& name) {
    std::string path = (root / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(img.bytes.data()),
                                                std::streamsize(img.bytes.size()));
    return path;
  }
  ToolRun Extract(const std::string& image, const fs::path& dir) {
    return RunTool({"extract", image, "-C", dir.string()});
  }

  testing_support::ScratchDir scratch;
  fs::path root = scratch.path();
};

TEST_F(ExtractCommand, LinksInTheDirectoryAreNeverWrittenThrough) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "LINKS", "", 20, kSector);
  PutDirectory(img, 20, kSector, {{"A.TXT;1", 30, 7}, {"SUB", 22, kSector, 2}});
  PutDirectory(img, 22, kSector, {{"B.TXT;1", 30, 7}});
  img.Fill(30, "payload");
  std::string image = WriteImage(img, "links.iso");
  fs::create_directories(root / "elsewhere");
  std::ofstream(root / "victim") << "precious";

  fs::create_directories(root / "file-link");
  fs::create_directories(root / "dir-link");
  auto link = [&](const std::string& to, const std::string& name, bool directory) {
    return testing_support::MakeSymbolicLink((root / to).string(), (root / name).string(), directory);
  };
  if (!link("victim", "file-link/A.TXT", false) || !link("elsewhere", "dir-link/SUB", true)) {
    GTEST_SKIP() << "would check that extract never writes through links in its directory; "
                    "this system makes no symbolic links here (Wine cannot)";
  }
  for (const char* dir : {"file-link", "dir-link"}) {
    ToolRun run = Extract(image, root / dir);
    EXPECT_EQ(run.code, tool::kExitFailure) << dir;
    EXPECT_NE(run.err.find("never overwrites or writes through links"), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadAll(root / "victim"), "precious");
  EXPECT_TRUE(fs::is_empty(root / "elsewhere"));

  // The directory given may itself be a link.
  ASSERT_TRUE(link("elsewhere", "dir-alias", true));
  EXPECT_EQ(Extract(image, root / "dir-alias").code, tool::kExitOk);
  EXPECT_EQ(ReadAll(root / "elsewhere" / "SUB" / "B.TXT"), "payload");
}

// A record named only by a version number has an empty name: refused, never taken for the end
// of the directory (which would drop the entries after it and report success).
TEST_F(ExtractCommand, AnEmptyNameFailsTheExtraction) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "EMPTY", "", 20, kSector);
  PutDirectory(img, 20, kSector, {{"A.TXT;1", 30, 1}, {";1", 30, 1}, {"B.TXT;1", 30, 1}});
  img.Fill(30, "x");
  ToolRun run = Extract(WriteImage(img, "empty.iso"), root / "out");
  EXPECT_EQ(run.code, tool::kExitFailure);
  EXPECT_NE(run.err.find("cannot be written safely (empty,"), std::string::npos) << run.err;
}

TEST_F(ExtractCommand, TooDeepATreeIsExplained) {
  constexpr uint32_t kLevels = 50;
  Image img(20 + kLevels + 2);
  PutVolumeDescriptor(img, 16, 1, 1, "DEEP", "", 20, kSector);
  for (uint32_t level = 0; level < kLevels; ++level) {
    PutDirectory(img, 20 + level, kSector, {{"D", 21 + level, kSector, 2}});
  }
  PutDirectory(img, 20 + kLevels, kSector, {});
  ToolRun run = Extract(WriteImage(img, "deep.iso"), root / "out");
  EXPECT_EQ(run.code, tool::kExitFailure);
  EXPECT_NE(run.err.find("nests directories deeper than the 49 levels"), std::string::npos)
      << run.err;
}

}  // namespace
