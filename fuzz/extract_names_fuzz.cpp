// Fuzzes the extraction walk's name rules on their own: the input as an entry name (UTF-8, and
// its UTF-16 form) through extract_name_is_safe and windows_name_is_holdable, and as a link
// target through extract_link_stays_inside at every depth the walk can stand at. A target that
// stays inside from one depth must stay inside from any deeper one too.
#include <cstddef>
#include <cstdint>

#include "base/pool.h"
#include "base/text.h"
#include "runner/extract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const char* name = reinterpret_cast<const char*>(data);
  kd_mp_c pool;
  if (const char16_t* wide = Utf8ToUtf16Pool(&pool, name, ptrdiff_t(size))) {
    uint32_t wide_length = uint32_t(Utf16Length(wide));
    extract_name_is_safe(name, uint32_t(size), wide, wide_length);
    windows_name_is_holdable(wide, wide_length);
  }
  bool inside = false;
  for (uint32_t depth = 0; depth < kExtractPathComponents; ++depth) {
    bool now = extract_link_stays_inside(name, uint32_t(size), depth);
    if (inside && !now) __builtin_trap();
    inside = now;
  }
  return 0;
}
