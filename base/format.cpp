// The printf-style engine shared by TextFormat (UTF-16) and TextFormat8 (UTF-8): one template
// over the output unit, with its own conversions for GUIDs and timestamps.
#include "base/format.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/pool.h"
#include "base/text.h"

namespace {

// Collects the output: counts every unit of the full result, but writes a character only
// while it fits whole in front of the terminator; after the first that does not, nothing more
// is written, so the buffer always holds a prefix cut at a character boundary.
template <typename Unit>
class Sink {
 public:
  Sink(Unit* buf, size_t cap) : buf_(buf), cap_(cap), full_(cap == 0) {}

  // One indivisible group of units (a whole character).
  void Put(const Unit* units, size_t n) {
    if (!full_ && n < cap_ - written_) {
      std::memcpy(buf_ + written_, units, n * sizeof(Unit));
      written_ += n;
    } else {
      full_ = true;
    }
    Count(n);
  }

  void Repeat(Unit unit, size_t n) {
    size_t room = full_ ? 0 : cap_ - 1 - written_;
    size_t fits = n < room ? n : room;
    for (size_t i = 0; i < fits; ++i) buf_[written_++] = unit;
    if (fits < n) full_ = true;
    Count(n);
  }

  void PutAscii(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      Unit unit = static_cast<Unit>(text[i]);
      Put(&unit, 1);
    }
  }

  void PutCodePoint(uint32_t cp);

  size_t count() const { return count_; }

  size_t Finish() {
    if (cap_ > 0) buf_[written_] = 0;
    return count_;
  }

 private:
  void Count(size_t n) { count_ = n > SIZE_MAX - count_ ? SIZE_MAX : count_ + n; }

  Unit* buf_;
  size_t cap_;
  size_t written_ = 0;
  size_t count_ = 0;
  bool full_;
};

template <>
void Sink<char16_t>::PutCodePoint(uint32_t cp) {
  char16_t units[4];
  size_t n = 0;
  Utf16Encode(cp, units, 4, &n);
  Put(units, n);
}

template <>
void Sink<char>::PutCodePoint(uint32_t cp) {
  char bytes[8];
  size_t n = 0;
  Utf8Encode(cp, bytes, 8, &n);
  Put(bytes, n);
}

uint32_t DecodeAt(const char* text, size_t len, size_t* pos) { return Utf8Decode(text, len, pos); }
uint32_t DecodeAt(const char16_t* text, size_t len, size_t* pos) {
  return Utf16Decode(text, len, pos);
}
size_t TextLength(const char* text) { return Utf8Length(text); }
size_t TextLength(const char16_t* text) { return Utf16Length(text); }

// Units of the well-formed character at p (a surrogate pair, or a UTF-8 lead byte with its
// continuation bytes), else 1; a literal run is copied in these groups so a cut never splits
// a character.
size_t LiteralCharLength(const char16_t* p) {
  return (p[0] >= 0xD800 && p[0] <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) ? 2 : 1;
}
size_t LiteralCharLength(const char* p) {
  auto lead = static_cast<uint8_t>(p[0]);
  size_t n = lead >= 0xF0 && lead <= 0xF7 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (lead >= 0xF8) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<uint8_t>(p[i]) & 0xC0) != 0x80) return 1;
  return n;
}

enum class CharWidth { kOwn, kNarrow, kWide };

// What stands between "%" and the conversion character: flags, width, precision and size.
struct Field {
  bool left = false, plus = false, blank = false, alt = false, zero = false;
  bool has_width = false, has_precision = false;
  size_t width = 0, precision = 0;
  int bits = 32;                      // integer size
  CharWidth chars = CharWidth::kOwn;  // character/text width chosen by the size
};

// va_list cannot be passed by pointer portably when it is an array type; wrap a copy.
struct Args {
  va_list ap;
};

int32_t NextInt32(Args& args) { return va_arg(args.ap, int32_t); }
uint64_t NextUint64(Args& args) { return va_arg(args.ap, uint64_t); }
const void* NextPointer(Args& args) { return va_arg(args.ap, const void*); }

// Reads an integer argument by size; signed ones are sign-extended, unsigned zero-extended.
uint64_t NextInteger(Args& args, int bits, bool is_signed) {
  if (bits == 64) return NextUint64(args);
  auto raw = static_cast<uint32_t>(NextInt32(args));
  if (bits == 8) return is_signed ? uint64_t(int64_t(int8_t(raw))) : uint8_t(raw);
  if (bits == 16) return is_signed ? uint64_t(int64_t(int16_t(raw))) : uint16_t(raw);
  return is_signed ? uint64_t(int64_t(int32_t(raw))) : raw;
}

template <typename Unit>
bool IsDigit(Unit c) {
  return c >= '0' && c <= '9';
}

// Decimal digits at *p, saturating far beyond any sensible field width.
template <typename Unit>
size_t ParseCount(const Unit** p) {
  size_t value = 0;
  for (; IsDigit(**p); ++*p) {
    value = value * 10 + size_t(**p - '0');
    if (value > INT32_MAX) value = INT32_MAX;
  }
  return value;
}

// Flags, width, precision and size; returns false when the format ends inside them.
template <typename Unit>
bool ParseField(const Unit** cursor, Args& args, Field* field) {
  const Unit* p = *cursor;
  for (;; ++p) {
    if (*p == '-')
      field->left = true;
    else if (*p == '+')
      field->plus = true;
    else if (*p == ' ')
      field->blank = true;
    else if (*p == '#')
      field->alt = true;
    else if (*p == '0')
      field->zero = true;
    else
      break;
  }
  if (*p == '*') {
    int64_t width = NextInt32(args);
    if (width < 0) field->left = true, width = -width;  // a negative width left-justifies
    field->has_width = true, field->width = size_t(width), ++p;
  } else if (IsDigit(*p)) {
    field->has_width = true, field->width = ParseCount(&p);
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      int32_t precision = NextInt32(args);
      field->has_precision = precision >= 0;  // a negative one counts as none
      field->precision = precision >= 0 ? size_t(precision) : 0, ++p;
    } else {
      field->has_precision = true, field->precision = ParseCount(&p);
    }
  }
  if (*p == 'h') {
    field->bits = 16, field->chars = CharWidth::kNarrow, ++p;
  } else if (*p == 'l' && p[1] == 'l') {
    field->bits = 64, p += 2;
  } else if (*p == 'l' || *p == 'L') {
    field->bits = 32, field->chars = CharWidth::kWide, ++p;
  } else if (*p == 'I') {
    if (p[1] == '8')
      field->bits = 8, field->chars = CharWidth::kNarrow, p += 2;
    else if (p[1] == '1' && p[2] == '6')
      field->bits = 16, field->chars = CharWidth::kWide, p += 3;
    else if (p[1] == '3' && p[2] == '2')
      field->bits = 32, p += 3;
    else if (p[1] == '6' && p[2] == '4')
      field->bits = 64, p += 3;
    // a lone "I" stays: it is the conversion character
  }
  *cursor = p;
  return *p != 0;
}

template <typename Unit>
void FormatInteger(Sink<Unit>& out, const Field& field, Args& args, char conversion) {
  bool is_signed = conversion == 'd' || conversion == 'i';
  uint64_t value = NextInteger(args, field.bits, is_signed);
  char sign = 0;
  if (is_signed) {
    if (int64_t(value) < 0)
      sign = '-', value = 0 - value;
    else if (field.plus)
      sign = '+';
    else if (field.blank)
      sign = ' ';
  }
  unsigned base = conversion == 'o' ? 8 : (is_signed || conversion == 'u') ? 10 : 16;
  bool upper = conversion == 'X' || conversion == 'P';
  const char* prefix = !field.alt ? "" : base == 8 ? "0" : base == 16 ? (upper ? "0X" : "0x") : "";
  const char* digit_set = upper ? "0123456789ABCDEF" : "0123456789abcdef";

  char digits[24];  // 64-bit octal needs 22
  size_t ndigits = 0;
  do {
    digits[sizeof digits - ++ndigits] = digit_set[value % base];
    value /= base;
  } while (value != 0);

  size_t prefix_len = std::strlen(prefix);
  size_t zeros = field.precision > ndigits ? field.precision - ndigits : 0;
  size_t used = (sign ? 1 : 0) + prefix_len + ndigits + zeros;
  size_t padding = field.width > used ? field.width - used : 0;
  // With "0" the zeros are the larger of the precision's fill and the padding, not their sum,
  // and no blanks are written; this wins over "-".
  if (field.zero) zeros = std::max(zeros, padding), padding = 0;

  if (!field.left) out.Repeat(' ', padding);
  if (sign) out.PutAscii(&sign, 1);
  out.PutAscii(prefix, prefix_len);
  out.Repeat('0', zeros);
  out.PutAscii(digits + sizeof digits - ndigits, ndigits);
  if (field.left) out.Repeat(' ', padding);
}

// A text of UTF-8 bytes or UTF-16 units: the precision caps the characters written, padding
// included, and a width raises that cap.
template <typename Unit, typename Source>
void FormatText(Sink<Unit>& out, const Field& field, const Source* text, size_t len) {
  size_t limit = field.has_precision ? field.precision : SIZE_MAX;
  if (field.has_width && limit < field.width) limit = field.width;
  size_t chars = 0, end = 0;
  while (end < len && chars < limit) DecodeAt(text, len, &end), ++chars;
  size_t padding = field.width > chars ? field.width - chars : 0;
  if (!field.left) out.Repeat(' ', padding);
  for (size_t pos = 0; pos < end;) out.PutCodePoint(DecodeAt(text, end, &pos));
  if (field.left) out.Repeat(' ', padding);
}

template <typename Unit, typename Source>
void FormatTextArgument(Sink<Unit>& out, const Field& field, const Source* text) {
  if (!text) {
    static const char kNull[] = "(null)";
    FormatText(out, field, kNull, sizeof kNull - 1);
  } else {
    FormatText(out, field, text, TextLength(text));
  }
}

template <typename Unit>
void FormatString(Sink<Unit>& out, const Field& field, Args& args, bool wide) {
  const void* text = NextPointer(args);
  if (wide)
    FormatTextArgument(out, field, static_cast<const char16_t*>(text));
  else
    FormatTextArgument(out, field, static_cast<const char*>(text));
}

// One character: 8-bit ones are read as UTF-8, 16-bit ones as UTF-16 (a lone byte above 0x7F
// or a lone surrogate is malformed); a 0 character ends its one-character text at once.
template <typename Unit>
void FormatChar(Sink<Unit>& out, const Field& field, Args& args, bool wide) {
  uint64_t value = field.bits == 64 ? NextUint64(args) : uint32_t(NextInt32(args));
  if (value >> 32) return;
  size_t pos = 0;
  uint32_t cp;
  if (wide) {
    char16_t unit = char16_t(value);
    cp = Utf16Decode(&unit, 1, &pos);
  } else {
    char byte = char(value);
    cp = Utf8Decode(&byte, 1, &pos);
  }
  size_t chars = cp != 0 ? 1 : 0;
  size_t padding = field.width > chars ? field.width - chars : 0;
  if (!field.left) out.Repeat(' ', padding);
  if (cp != 0) out.PutCodePoint(cp);
  if (field.left) out.Repeat(' ', padding);
}

// 8-4-4-4-12 hexadecimal digits: the first three groups are little-endian fields.
template <typename Unit>
void FormatGuid(Sink<Unit>& out, const Field& field, Args& args, bool upper) {
  auto* guid = static_cast<const uint8_t*>(NextPointer(args));
  if (!guid) return FormatTextArgument(out, field, static_cast<const char*>(nullptr));
  static const uint8_t kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  const char* digit_set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char text[36];
  size_t n = 0;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text[n++] = '-';
    text[n++] = digit_set[guid[kOrder[i]] >> 4];
    text[n++] = digit_set[guid[kOrder[i]] & 15];
  }
  FormatText(out, field, text, n);
}

// Appends value in decimal, zero-filled to width digits.
size_t PutDecimal(char* out, uint64_t value, size_t width) {
  char digits[20];
  size_t n = 0;
  do digits[n++] = char('0' + value % 10), value /= 10;
  while (value != 0);
  size_t len = 0;
  while (width > n) out[len++] = '0', --width;
  while (n > 0) out[len++] = digits[--n];
  return len;
}

// "YYYY-MM-DD hh:mm:ss[.mmm]" for a day count since 1601-01-01 (Gregorian, no time zone).
size_t CalendarText(char* out, int64_t days, uint32_t ms_of_day, bool with_ms) {
  // Civil date from days since 1970-01-01, counted in 400-year eras starting in March.
  int64_t z = days - 134774 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

  size_t n = 0;
  if (year < 0) out[n++] = '-';
  n += PutDecimal(out + n, uint64_t(year < 0 ? -year : year), 4);
  out[n++] = '-';
  n += PutDecimal(out + n, uint64_t(month), 2);
  out[n++] = '-';
  n += PutDecimal(out + n, uint64_t(day), 2);
  out[n++] = ' ';
  uint32_t seconds = ms_of_day / 1000;
  n += PutDecimal(out + n, seconds / 3600, 2);
  out[n++] = ':';
  n += PutDecimal(out + n, seconds / 60 % 60, 2);
  out[n++] = ':';
  n += PutDecimal(out + n, seconds % 60, 2);
  if (with_ms) {
    out[n++] = '.';
    n += PutDecimal(out + n, ms_of_day % 1000, 3);
  }
  return n;
}

constexpr int64_t kSecondsPerDay = 86400;
constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kTicksPerDay = uint64_t(kSecondsPerDay) * 1000 * kTicksPerMs;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// "t": a time_t (seconds since 1970, signed) of 32 bits, or 64 with a 64-bit size.
template <typename Unit>
void FormatUnixTime(Sink<Unit>& out, const Field& field, Args& args) {
  int64_t seconds = field.bits == 64 ? int64_t(NextUint64(args)) : NextInt32(args);
  int64_t days = seconds / kSecondsPerDay, rest = seconds % kSecondsPerDay;
  if (rest < 0) rest += kSecondsPerDay, --days;
  char text[48];
  size_t n = CalendarText(text, days + kDaysFrom1601To1970, uint32_t(rest * 1000), false);
  FormatText(out, field, text, n);
}

// "T": 100-nanosecond ticks since 1601-01-01, always 64 bits.
template <typename Unit>
void FormatFileTime(Sink<Unit>& out, const Field& field, Args& args) {
  uint64_t ticks = NextUint64(args);
  char text[48];
  size_t n = CalendarText(text, int64_t(ticks / kTicksPerDay),
                          uint32_t(ticks % kTicksPerDay / kTicksPerMs), true);
  FormatText(out, field, text, n);
}

// "n": the units produced so far, stored in 8, 16, 32 (default) or 64 bits.
template <typename Unit>
void StoreCount(const Sink<Unit>& out, const Field& field, Args& args) {
  void* target = const_cast<void*>(NextPointer(args));
  if (!target) return;
  uint64_t count = out.count();
  if (field.bits == 8) {
    uint8_t v = uint8_t(count);
    std::memcpy(target, &v, 1);
  } else if (field.bits == 16) {
    uint16_t v = uint16_t(count);
    std::memcpy(target, &v, 2);
  } else if (field.bits == 64) {
    std::memcpy(target, &count, 8);
  } else {
    uint32_t v = uint32_t(count);
    std::memcpy(target, &v, 4);
  }
}

template <typename Unit>
void FormatConversion(Sink<Unit>& out, const Field& field, Args& args, Unit conversion) {
  constexpr bool kOwnIsWide = sizeof(Unit) == 2;
  bool own_wide = field.chars == CharWidth::kOwn ? kOwnIsWide : field.chars == CharWidth::kWide;
  bool other_wide = field.chars == CharWidth::kOwn ? !kOwnIsWide : field.chars == CharWidth::kWide;
  switch (conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'p':
    case 'P': return FormatInteger(out, field, args, char(conversion));
    case 'c': return FormatChar(out, field, args, own_wide);
    case 'w': return FormatChar(out, field, args, true);
    case 'C': return FormatChar(out, field, args, other_wide);
    case 's': return FormatString(out, field, args, own_wide);
    case 'S': return FormatString(out, field, args, other_wide);
    case 'r':
    case 'R': return FormatGuid(out, field, args, conversion == 'R');
    case 't': return FormatUnixTime(out, field, args);
    case 'T': return FormatFileTime(out, field, args);
    case 'n': return StoreCount(out, field, args);
    default: return;  // unknown conversions are consumed silently
  }
}

template <typename Unit>
size_t FormatEngine(Unit* buf, size_t cap, const Unit* fmt, va_list ap) {
  Sink<Unit> out(buf, cap);
  Args args;
  va_copy(args.ap, ap);
  static const Unit kEmpty[1] = {0};
  const Unit* p = fmt ? fmt : kEmpty;
  while (*p) {
    if (*p != '%') {
      size_t n = LiteralCharLength(p);
      out.Put(p, n);
      p += n;
      continue;
    }
    ++p;
    if (*p == '%') {
      out.Put(p++, 1);
      continue;
    }
    Field field;
    if (!ParseField(&p, args, &field)) break;
    FormatConversion(out, field, args, *p++);
  }
  va_end(args.ap);
  return out.Finish();
}

}  // namespace

size_t TextFormatV(char16_t* buf, size_t cap, const char16_t* fmt, va_list args) {
  return FormatEngine(buf, cap, fmt, args);
}

size_t TextFormat(char16_t* buf, size_t cap, const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  size_t len = TextFormatV(buf, cap, fmt, args);
  va_end(args);
  return len;
}

size_t TextFormat8V(char* buf, size_t cap, const char* fmt, va_list args) {
  return FormatEngine(buf, cap, fmt, args);
}

size_t TextFormat8(char* buf, size_t cap, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  size_t len = TextFormat8V(buf, cap, fmt, args);
  va_end(args);
  return len;
}

char16_t* TextFormatPoolV(malloc_i* pool, const char16_t* fmt, va_list args) {
  if (!pool) return nullptr;
  constexpr size_t kLocalUnits = 100;
  char16_t local[kLocalUnits];
  va_list first;
  va_copy(first, args);
  size_t len = TextFormatV(local, kLocalUnits, fmt, first);
  va_end(first);
  if (len >= SIZE_MAX / sizeof(char16_t)) return nullptr;
  auto* text = static_cast<char16_t*>(pool->Allocate((len + 1) * sizeof(char16_t)));
  if (!text) return nullptr;
  if (len < kLocalUnits) {
    std::memcpy(text, local, (len + 1) * sizeof(char16_t));
  } else {
    va_list second;
    va_copy(second, args);
    TextFormatV(text, len + 1, fmt, second);
    va_end(second);
  }
  return text;
}

char16_t* TextFormatPool(malloc_i* pool, const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char16_t* text = TextFormatPoolV(pool, fmt, args);
  va_end(args);
  return text;
}
