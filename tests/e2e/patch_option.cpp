// Test helper: copies a built runner and sets options in the copy.
//   e2e_patch_option RUNNER COPY NAME=VALUE...
// Exits 0 when every option was written, 1 with a message otherwise.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runner/option_patch.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RUNNER COPY NAME=VALUE...\n", argv[0]);
    return 1;
  }
  std::error_code ec;
  std::filesystem::copy_file(argv[1], argv[2], std::filesystem::copy_options::overwrite_existing, ec);
  std::ifstream in(argv[2], std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  in.close();
  if (ec || file.empty()) {
    std::fprintf(stderr, "cannot copy %s to %s\n", argv[1], argv[2]);
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "not NAME=VALUE: %s\n", argv[i]);
      return 1;
    }
    // Option names and values here are ASCII.
    std::u16string name(arg.begin(), arg.begin() + eq), value(arg.begin() + eq + 1, arg.end());
    err_t e = patch_option(file.data(), file.size(), name.c_str(), value.c_str());
    if (e != 0) {
      std::fprintf(stderr, "error %u setting %s\n", e, argv[i]);
      return 1;
    }
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  return out ? 0 : 1;
}
