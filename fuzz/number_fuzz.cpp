// Fuzzes ParseNumberOrBool over little-endian UTF-16 input, and checks that NumberToText writes
// every value it reads in the form it was read so that reading it again gives the same value.
#include <cstdint>
#include <vector>

#include "base/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char16_t> text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));
  uint32_t form = 0;
  int64_t value = ParseNumberOrBool(text.data(), ptrdiff_t(text.size()), &form);

  char16_t written[40];
  size_t len = NumberToText(written, sizeof written / sizeof written[0], value, form, 0);
  if (len >= sizeof written / sizeof written[0]) __builtin_trap();
  uint32_t again_form = 0;
  if (ParseNumberOrBool(written, -1, &again_form) != value) __builtin_trap();
  return 0;
}
