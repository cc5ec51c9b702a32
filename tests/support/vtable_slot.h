// Pins the slot order of an interface: the position of a virtual operation in its table, read
// from a pointer to member function (the common C++ ABI stores 1 + the byte offset there).
#pragma once
#include <cstddef>
#include <cstring>

namespace testing_support {

template <typename F>
size_t VtableSlot(F member) {
  static_assert(sizeof(F) >= sizeof(ptrdiff_t));
  ptrdiff_t raw;
  std::memcpy(&raw, &member, sizeof raw);
  return size_t(raw - 1) / sizeof(void*);
}

}  // namespace testing_support
