// One character at a time to and from a system code page: the platform half of the code-page
// conversions in text.h. Code page 0 is the ANSI code page (Windows) or the locale's character
// set (Linux); when that, or the page asked for, is UTF-8 the portable coders do the work and
// this object only says so.
#pragma once
#include <cstddef>
#include <cstdint>

// The most bytes one character takes in any code page.
inline constexpr size_t kCodePageMaxCharBytes = 6;

// Opened for one conversion and used by one thread; holds whatever the system needs.
class codepage_c {
 public:
  explicit codepage_c(uint32_t code_page);
  ~codepage_c();
  codepage_c(const codepage_c&) = delete;
  codepage_c& operator=(const codepage_c&) = delete;

  bool IsUtf8() const { return utf8_; }
  // The character at bytes[0..len), len >= 1: its code point, with *used set to its byte
  // count; kInvalidCodePoint with *used = 1 when the page cannot convert it (a lead byte with
  // no byte after it included).
  uint32_t DecodeChar(const char* bytes, size_t len, size_t* used);
  // The bytes of one basic-plane character; 0 when the page cannot hold it exactly.
  size_t EncodeChar(char16_t unit, char out[kCodePageMaxCharBytes]);

 private:
  bool utf8_ = false;
  // Whatever the platform keeps for the conversion: the page and its flags, or the system's
  // converter handles.
  uintptr_t system_[2] = {};
};
