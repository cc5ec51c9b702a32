// The Linux runner's extraction target: private to the run, and never one that existed before.
#include "runner/extract_target.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "runner/extract.h"
#include "support/test_support.h"
#include "tests/runner/fake_volume.h"

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(ExtractTarget, IsMadeForThisRunAloneWithItsParents) {
  testing_support::ScratchDir scratch;
  std::string target = scratch.path() + "/parent/run-1";
  ASSERT_EQ(create_private_target(Wide(target).c_str()), kOk);
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(create_private_target(Wide(target).c_str()), kErrFileExists);
}

TEST(ExtractTarget, ANamePlantedBeforehandIsNeverUsed) {
  testing_support::ScratchDir scratch;
  std::string elsewhere = scratch.path() + "/elsewhere";
  fs::create_directory(elsewhere);
  std::string planted = scratch.path() + "/run-2";
  fs::create_directory_symlink(elsewhere, planted);
  extract_test::FakeVolume volume;
  volume.Add(0, "setup", kSeTypeFile, "payload");
  EXPECT_EQ(extract_volume(Wide(planted).c_str(), &volume), kErrFileExists);
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST(ExtractTarget, EveryWrittenFileIsClosed) {
  testing_support::ScratchDir scratch;
  extract_test::FakeVolume volume;
  for (int i = 0; i < 64; ++i) volume.Add(0, "f" + std::to_string(i), kSeTypeFile, "data");
  size_t before = OpenDescriptors();
  ASSERT_EQ(extract_volume(Wide(scratch.path() + "/run-3").c_str(), &volume), kOk);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
