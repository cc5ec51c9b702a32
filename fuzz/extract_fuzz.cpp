// Fuzzes extraction: the input is opened as media through the reader registry, as the isofs target
// does, and extract_volume writes its whole main root into a scratch folder below the system's
// temporary folder, which is emptied again after each input. Nothing bounds the walk but the
// extraction's own limits (depth, names, file sizes checked against the image), so whatever the
// readers offer is created, written, closed and read back as a setup would have it.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "fuzz/fuzz_media.h"
#include "runner/extract.h"

namespace {

// One folder per fuzzing process, so parallel jobs do not share it.
const std::filesystem::path& Scratch() {
  static const std::filesystem::path folder = [] {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) std::abort();
    std::filesystem::path p = base / ("isorun-extract-fuzz-" + std::to_string(std::random_device{}()));
    std::filesystem::remove_all(p, ec);
    return p;
  }();
  return folder;
}

// Extraction leaves what it made when it fails; files may have lost their write permission.
void Empty(const std::filesystem::path& folder) {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(folder, ec);
  if (ec) std::abort();
}

// Failure and skipped-link reports name a path below the target, which never climbs out of it.
void CheckReportedPath(void*, const char16_t* path) {
  if (!path) std::abort();
  for (const char16_t* p = path; *p; ++p) {
    bool starts = p == path || p[-1] == u'\\';
    if (starts && p[0] == u'.' && p[1] == u'.' && (p[2] == 0 || p[2] == u'\\')) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return WithFuzzedMedia(data, size, [](SeVolume* volume) {
    const std::filesystem::path& scratch = Scratch();
    ExtractOptions options;
    options.on_failure = CheckReportedPath;
    options.on_link_skipped = CheckReportedPath;
    extract_volume(scratch.u16string().c_str(), volume, options);
    Empty(scratch);
  });
}
