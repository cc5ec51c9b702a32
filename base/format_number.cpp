// Integers to text and back: NumberToText writes a value in one of the forms that
// ParseNumberOrBool reports, so an option read from text can be written back the same way.
#include <cstring>

#include "base/format.h"

namespace {

constexpr uint32_t kWordForms = kFormYesNo | kFormTrueFalse | kFormOnOff | kFormYN | kFormTF |
                                kFormEnableDisable | kFormEnabledDisabled | kFormED;
constexpr uint32_t kMaxMinDigits = 27;

struct FormWord {
  uint32_t form;
  const char* word;
};

// The first set form in each list gives the word.
constexpr FormWord kTrueWords[] = {
    {kFormYN, "y"},
    {kFormTrueFalse, "true"},
    {kFormTF, "t"},
    {kFormOnOff, "on"},
    {kFormEnableDisable, "enable"},
    {kFormEnabledDisabled, "enabled"},
    {kFormED, "e"},
    {kFormYesNo, "yes"},
};
constexpr FormWord kFalseWords[] = {
    {kFormYesNo, "no"},
    {kFormYN, "n"},
    {kFormTrueFalse, "false"},
    {kFormTF, "f"},
    {kFormOnOff, "off"},
    {kFormEnableDisable, "disable"},
    {kFormEnabledDisabled, "disabled"},
    {kFormED, "d"},
};

template <size_t N>
const char* WordFor(const FormWord (&words)[N], uint32_t form) {
  for (const FormWord& w : words)
    if (form & w.form) return w.word;
  return nullptr;
}

// Copies ASCII text into a UTF-16 buffer by the usual rule: write what fits, terminate, return
// the full length.
size_t CopyAscii(char16_t* buf, size_t cap, const char* text, size_t len) {
  if (cap > 0) {
    size_t fits = len < cap - 1 ? len : cap - 1;
    for (size_t i = 0; i < fits; ++i) buf[i] = char16_t(text[i]);
    buf[fits] = 0;
  }
  return len;
}

// Digits of value in base 10 or 16 (upper case), zero-filled to min_digits, at out.
size_t PutDigits(char* out, uint64_t value, unsigned base, uint32_t min_digits) {
  char digits[20];
  size_t n = 0;
  do digits[n++] = "0123456789ABCDEF"[value % base], value /= base;
  while (value != 0);
  size_t len = 0;
  for (size_t fill = min_digits > n ? min_digits - n : 0; fill > 0; --fill) out[len++] = '0';
  while (n > 0) out[len++] = digits[--n];
  return len;
}

bool IsBlank(char16_t c) { return c == ' ' || (c >= '\t' && c <= '\r' && c != '\f'); }

char16_t AsciiLower(char16_t c) { return c >= 'A' && c <= 'Z' ? char16_t(c + 32) : c; }

// Whether text (n units) begins with word, ASCII case ignored.
bool StartsWithWord(const char16_t* text, size_t n, const char* word) {
  size_t len = std::strlen(word);
  if (len > n) return false;
  for (size_t i = 0; i < len; ++i)
    if (AsciiLower(text[i]) != char16_t(word[i])) return false;
  return true;
}

struct WordValue {
  const char* word;
  int64_t value;
  uint32_t form;
};

// Words tried for each first letter when the text is longer than one character.
constexpr WordValue kWords[] = {
    {"disabled", 0, kFormEnabledDisabled},
    {"disable", 0, kFormEnableDisable},
    {"enabled", 1, kFormEnabledDisabled},
    {"enable", 1, kFormEnableDisable},
    {"false", 0, kFormTrueFalse},
    {"no", 0, kFormYesNo},
    {"on", 1, kFormOnOff},
    {"off", 0, kFormOnOff},
    {"true", 1, kFormTrueFalse},
    {"yes", 1, kFormYesNo},
};

int HexDigit(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An optional sign, then "0x" and hexadecimal digits or decimal digits; wraps in 64 bits.
int64_t ParseNumber(const char16_t* text, size_t n, uint32_t* form) {
  size_t i = 0;
  bool negative = false;
  if (n > 0 && (text[0] == '-' || text[0] == '+')) negative = text[0] == '-', ++i;
  unsigned base = 10;
  if (n - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      HexDigit(text[i + 2]) >= 0) {
    base = 16, i += 2;
  }
  uint64_t value = 0;
  size_t first_digit = i;
  for (int d; i < n && (d = HexDigit(text[i])) >= 0 && unsigned(d) < base; ++i)
    value = value * base + unsigned(d);
  if (i == first_digit) return *form = 0, 0;  // not a number
  *form = (base == 16 ? uint32_t{kFormHex} : 0u) | (negative ? uint32_t{kFormSigned} : 0u);
  return int64_t(negative ? 0 - value : value);
}

}  // namespace

size_t NumberToText(char16_t* buf, size_t cap, int64_t value, uint32_t form, uint32_t min_digits) {
  if (min_digits > kMaxMinDigits) min_digits = kMaxMinDigits;
  if ((form & kWordForms) && (value == 0 || value == 1)) {
    const char* word = WordFor(value == 1 ? kTrueWords : kFalseWords, form);
    return CopyAscii(buf, cap, word, std::strlen(word));
  }
  char text[32];  // "0x" or "-" and at most 27 digits
  size_t n = 0;
  auto magnitude = uint64_t(value);
  if (form & kFormHex) {
    text[n++] = '0', text[n++] = 'x';
    n += PutDigits(text + n, magnitude, 16, min_digits);
  } else {
    if ((form & kFormSigned) && value < 0) text[n++] = '-', magnitude = 0 - magnitude;
    n += PutDigits(text + n, magnitude, 10, min_digits);
  }
  return CopyAscii(buf, cap, text, n);
}

int64_t ParseNumberOrBool(const char16_t* text, ptrdiff_t len, uint32_t* form) {
  uint32_t read_form = 0;
  uint32_t* out_form = form ? form : &read_form;
  *out_form = 0;
  if (!text) return 0;
  // A given length still ends at a terminator inside it.
  size_t n = 0;
  while ((len < 0 || n < size_t(len)) && text[n] != 0) ++n;
  while (n > 0 && IsBlank(*text)) ++text, --n;
  while (n > 0 && IsBlank(text[n - 1])) --n;
  if (n == 0) return 0;

  char16_t first = AsciiLower(text[0]);
  if (n == 1) {
    switch (first) {
      case 'd': return *out_form = kFormED, 0;
      case 'e': return *out_form = kFormED, 1;
      case 'f': return *out_form = kFormTF, 0;
      case 'n': return *out_form = kFormYN, 0;
      case 't': return *out_form = kFormTF, 1;
      case 'y': return *out_form = kFormYN, 1;
      default: return ParseNumber(text, n, out_form);
    }
  }
  for (const WordValue& w : kWords)
    if (char16_t(w.word[0]) == first && StartsWithWord(text, n, w.word))
      return *out_form = w.form, w.value;
  return ParseNumber(text, n, out_form);
}
