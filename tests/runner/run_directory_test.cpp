// The run's temporary directory: always new, never a name that something had before (a
// directory, a file or a link planted at the exact name the clock gives), private to the run,
// held open until it is deleted through its handle, and refusing what a swap would redirect.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/file.h"
#include "base/pool.h"
#include "runner/extract.h"
#include "runner/runner.h"
#include "support/test_support.h"
#include "tests/runner/fake_volume.h"

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string Narrow(const char16_t* text) { return std::string(text, text + std::char_traits<char16_t>::length(text)); }

int64_t FixedClock() { return 42; }

class RunDirectory : public testing::Test {
 protected:
  // Makes the run directory in the scratch folder with a clock that always reads 42.
  err_t Create() {
    path = Wide(folder() + "/setup-42");
    const char16_t* made = path.c_str();
    err_t e = create_run_directory(&pool, Wide(folder()).c_str(), u"setup", FixedClock, &made, &handle);
    if (e == kOk) path = made;
    return e;
  }
  std::string folder() { return scratch.path() + "/temp"; }
  // The path made, with the slashes every system here takes.
  std::string made() {
    std::string text = Narrow(path.c_str());
    for (char& c : text) c = c == '\\' ? '/' : c;
    return text;
  }
  void TearDown() override {
    if (!IsNoHandle(handle)) close_handle(handle);
  }

  testing_support::ScratchDir scratch;
  kd_mp_c pool;
  std::u16string path;
  file_handle_t handle = kNoHandle;
};

TEST_F(RunDirectory, NothingThatExistsAtANameIsEverUsed) {
  fs::create_directories(folder() + "/setup-42");      // a directory, at the first name
  std::ofstream(folder() + "/setup-42-1") << "planted";  // a file at the first counted one
  std::error_code no_links;
  fs::create_directory_symlink(scratch.path(), folder() + "/setup-42-2", no_links);
  ASSERT_EQ(Create(), kOk);
  std::string expected = no_links ? "setup-42-2" : "setup-42-3";  // Wine makes no links
  EXPECT_TRUE(made().size() > 10 && made().substr(made().size() - 10) == expected) << made();
  EXPECT_TRUE(fs::is_empty(folder() + "/setup-42"));
  EXPECT_TRUE(fs::is_regular_file(folder() + "/setup-42-1"));
}

TEST_F(RunDirectory, GivesUpAfterABoundedNumberOfNames) {
  fs::create_directories(folder());
  std::ofstream(folder() + "/setup-42") << "x";
  for (int i = 1; i < kRunDirectoryTries; ++i) std::ofstream(folder() + "/setup-42-" + std::to_string(i)) << "x";
  EXPECT_EQ(Create(), kErrFileExists);
  EXPECT_TRUE(IsNoHandle(handle));
}

TEST_F(RunDirectory, IsFilledAndDeletedThroughItsHandle) {
  ASSERT_EQ(Create(), kOk);
  extract_test::FakeVolume volume;
  size_t dir = volume.Add(0, "sub", kSeTypeDirectory);
  volume.Add(dir, "f", kSeTypeFile, "data");
  volume.Add(0, "setup", kSeTypeFile, "payload");
  ASSERT_EQ(extract_volume_into(handle, &volume, ExtractOptions{}), kOk);
  EXPECT_TRUE(fs::is_regular_file(made() + "/sub/f"));
  ASSERT_EQ(delete_tree_below(handle), kOk);
  EXPECT_TRUE(fs::is_empty(made()));
  EXPECT_EQ(delete_held_directory(handle, path.c_str()), kOk);
  handle = kNoHandle;
  EXPECT_FALSE(fs::exists(made()));
}

}  // namespace
