// Replays a fuzz target's corpus without libFuzzer: every file named on the command line, or
// found below a folder named there, is fed to the target once. Exits 0 when all of them ran.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool replay(const std::filesystem::path& file) {
  FILE* f = std::fopen(file.string().c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "replay: cannot open %s\n", file.string().c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

int main(int argc, char** argv) {
  int files = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg, ec)) {
      for (auto& e : std::filesystem::recursive_directory_iterator(arg, ec))
        if (e.is_regular_file()) ok &= replay(e.path()), ++files;
    } else {
      ok &= replay(arg), ++files;
    }
  }
  std::printf("replayed %d inputs\n", files);
  return ok ? 0 : 1;
}
