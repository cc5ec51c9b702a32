// The printf-style formatter (UTF-16 and UTF-8 output) and number <-> text conversion.
//
// Every buffer-writing routine counts the full result, writes what fits, terminates the buffer
// whenever its capacity is not 0 and returns the full count, so a caller can measure with
// capacity 0 and then fill.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

class malloc_i;

// Form flags, shared by ParseNumberOrBool (what it read) and NumberToText (what to write).
enum : uint32_t {
  kFormHex = 0x1,
  kFormSigned = 0x2,  // negative (parser) / signed output
  kFormYesNo = 0x4,
  kFormTrueFalse = 0x8,
  kFormOnOff = 0x10,
  kFormYN = 0x20,
  kFormTF = 0x40,
  kFormEnableDisable = 0x80,
  kFormEnabledDisabled = 0x100,
  kFormED = 0x200,
};

size_t TextFormatV(char16_t* buf, size_t cap, const char16_t* fmt, va_list args);
size_t TextFormat(char16_t* buf, size_t cap, const char16_t* fmt, ...);
size_t TextFormat8V(char* buf, size_t cap, const char* fmt, va_list args);
size_t TextFormat8(char* buf, size_t cap, const char* fmt, ...);

// A new UTF-16 text in the pool, or nullptr when the pool fails.
char16_t* TextFormatPoolV(malloc_i* pool, const char16_t* fmt, va_list args);
char16_t* TextFormatPool(malloc_i* pool, const char16_t* fmt, ...);

size_t NumberToText(char16_t* buf, size_t cap, int64_t value, uint32_t form, uint32_t min_digits);

// len may be -1 (runs to the terminator); form, when given, receives the form that was read.
int64_t ParseNumberOrBool(const char16_t* text, ptrdiff_t len, uint32_t* form = nullptr);
