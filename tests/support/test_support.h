// Helpers shared by the test programs: where the sources and built programs are, and scratch
// folders that clean up after themselves.
#pragma once
#include <string>

namespace testing_support {
// The source tree (ISORUN_SOURCE_DIR) and the build's program folder (ISORUN_BIN_DIR).
std::string SourceDir();
std::string BinDir();
// Makes a symbolic link at `link` to `to`; false where the test cannot make one (Windows
// without the right to, Wine, which claims success and makes none).
bool MakeSymbolicLink(const std::string& to, const std::string& link, bool directory);
// A fresh empty folder, removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
 private:
  std::string path_;
};
}  // namespace testing_support
