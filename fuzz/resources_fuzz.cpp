// Fuzzes the runner's resource table lookup and the decoding of what it finds: the first byte
// picks the resource looked for, the rest is a region of resource tables as the runner's
// section holds them. A find must lie inside the region; the bytes found are then read as the
// runner reads an option (text to its NUL, then as a number or yes/no), and the region as a
// locale name, which must give a three-letter language name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/format.h"
#include "base/pool.h"
#include "runner/resource_table.h"
#include "runner/resources.h"

namespace {

struct Wanted {
  const char16_t* type;
  const char16_t* name;
};

constexpr Wanted kWanted[] = {
    {u"option", u"use_stderr"},
    {u"OPTION", u"RUN_EXE"},
    {u"lzmafile", u"usertext"},
    {u"option", u""},
    {u"option", u"a_name_longer_than_the_thirty_two_bytes_of_its_field"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Wanted& wanted = kWanted[data[0] % (sizeof kWanted / sizeof kWanted[0])];
  const uint8_t* region = data + 1;
  const size_t region_size = size - 1;
  RsrcLocation at;
  if (rsrc_table_find(region, region_size, wanted.type, wanted.name, &at)) {
    if (at.offset > region_size || at.size > region_size - at.offset) __builtin_trap();
    kd_mp_c pool;
    if (const char16_t* text = decode_option_text(&pool, region + at.offset, at.size))
      ParseNumberOrBool(text, -1);
  }
  char16_t language[4];
  language_name_from_locale(std::string(region, region + region_size).c_str(), language);
  if (language[3] != 0) __builtin_trap();
  return 0;
}
