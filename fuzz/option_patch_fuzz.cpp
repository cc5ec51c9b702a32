// Fuzz target: locating and patching option resources in an arbitrary file taken for a runner
// (PE resource directory or ELF resource section).
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "runner/option_patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset;
  uint32_t length;
  for (const char16_t* type : {u"option", u"lzmafile"})
    if (locate_file_resource(data, size, type, u"run_exe", &offset, &length) == kOk &&
        (offset > size || length > size - offset))
      __builtin_trap();  // a location outside the file
  std::vector<uint8_t> copy(data, data + size);
  patch_option(copy.data(), copy.size(), u"use_stderr", u"1");
  return 0;
}
