#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <random>

namespace testing_support {

static std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string SourceDir() { return Env("ISORUN_SOURCE_DIR"); }
std::string BinDir() { return Env("ISORUN_BIN_DIR"); }

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
