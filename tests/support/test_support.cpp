#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#ifndef ISORUN_BUILT_SOURCE_DIR
#define ISORUN_BUILT_SOURCE_DIR ""
#define ISORUN_BUILT_BIN_DIR ""
#endif

namespace testing_support {

// The environment wins (ctest sets it); a test program started by hand falls back to the
// folders it was built for.
static std::string EnvOr(const char* name, const char* built_for) {
  const char* v = std::getenv(name);
  return v && *v ? v : built_for;
}

std::string SourceDir() { return EnvOr("ISORUN_SOURCE_DIR", ISORUN_BUILT_SOURCE_DIR); }
std::string BinDir() { return EnvOr("ISORUN_BIN_DIR", ISORUN_BUILT_BIN_DIR); }

bool MakeSymbolicLink(const std::string& to, const std::string& link, bool directory) {
  std::error_code error;
  if (directory) {
    std::filesystem::create_directory_symlink(to, link, error);
  } else {
    std::filesystem::create_symlink(to, link, error);
  }
  return !error && std::filesystem::is_symlink(std::filesystem::symlink_status(link));
}

ScratchDir::ScratchDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto p = base / ("isorun-test-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace testing_support
