// Extraction on Linux leaves no descriptor behind: every file, directory and read-back handle
// it opened is closed when it returns.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runner/extract.h"
#include "support/test_support.h"
#include "tests/runner/fake_volume.h"

namespace {

namespace fs = std::filesystem;

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(ExtractDescriptors, EveryHandleIsClosed) {
  testing_support::ScratchDir scratch;
  extract_test::FakeVolume volume;
  size_t sub = volume.Add(0, "sub", kSeTypeDirectory);
  for (int i = 0; i < 64; ++i) volume.Add(i % 2 ? sub : 0, "f" + std::to_string(i), kSeTypeFile, "data");
  std::string target = scratch.path() + "/run";
  std::u16string wide(target.begin(), target.end());
  size_t before = OpenDescriptors();
  ASSERT_EQ(extract_volume(wide.c_str(), &volume, ExtractOptions{}), kOk);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
