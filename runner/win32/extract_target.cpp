#include "runner/extract_target.h"

#include "runner/extract.h"

bool system_takes_name(const char16_t* name, uint32_t length) {
  return windows_name_is_holdable(name, length);
}
