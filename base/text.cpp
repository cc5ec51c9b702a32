// UTF-8 and UTF-16 coders, the conversions built on them, and the comparisons.
#include "base/text.h"

#include <cstring>

#include "base/codepage.h"
#include "base/pool.h"

namespace {

constexpr uint32_t kReplacementUnit = 0xFFFF;  // what a failed code-page conversion yields
constexpr char kUnrepresentableByte = 0x7F;
constexpr size_t kPoolLocalUnits = 100;

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool IsSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// Length of a text given as (pointer, length or -1); a null text is empty.
size_t TextLength(const char* s, ptrdiff_t len) {
  if (!s) return 0;
  return len < 0 ? std::strlen(s) : static_cast<size_t>(len);
}
size_t TextLength(const char16_t* s, ptrdiff_t len) {
  if (!s) return 0;
  return len < 0 ? Utf16Length(s) : static_cast<size_t>(len);
}

// Bytes before the first 0 within len.
size_t BytesBeforeNul(const char* s, size_t len) {
  const void* nul = len ? std::memchr(s, 0, len) : nullptr;
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - s) : len;
}

// Gathers a converted text into a caller's buffer: counts every unit, writes whole characters
// while they fit together with the terminator, and stops writing at the first one that does not.
template <typename Unit>
class TextSink {
 public:
  TextSink(Unit* dst, size_t cap) : dst_(cap ? dst : nullptr), cap_(dst ? cap : 0) {}

  void Put(const Unit* seq, size_t n) {
    if (!full_ && written_ + n < cap_) {
      std::memcpy(dst_ + written_, seq, n * sizeof(Unit));
      written_ += n;
    } else {
      full_ = true;
    }
    count_ += n;
  }

  void PutCodePoint(uint32_t cp) {
    Unit seq[6];
    size_t n = 0;
    Encode(cp, seq, &n);
    Put(seq, n);
  }

  // Terminates the buffer and returns the full count.
  size_t Finish() {
    if (cap_) dst_[written_] = 0;
    return count_;
  }

 private:
  static void Encode(uint32_t cp, char* seq, size_t* n) { Utf8Encode(cp, seq, 6, n); }
  static void Encode(uint32_t cp, char16_t* seq, size_t* n) { Utf16Encode(cp, seq, 2, n); }

  Unit* dst_;
  size_t cap_;
  size_t written_ = 0;
  size_t count_ = 0;
  bool full_ = false;
};

// Decodes a text up to a 0 or its length and writes every code point into the buffer.
template <typename Unit, typename Source, typename Decode>
size_t Recode(Unit* dst, size_t cap, const Source* src, ptrdiff_t len, Decode decode) {
  TextSink<Unit> sink(dst, cap);
  size_t n = TextLength(src, len);
  for (size_t pos = 0; pos < n;) {
    uint32_t cp = decode(src, n, &pos);
    if (cp == 0) break;
    sink.PutCodePoint(cp);
  }
  return sink.Finish();
}

// Feeds every character of a code-page text to the sink as a code point.
template <typename Sink>
void DecodeCodePage(uint32_t code_page, const char* src, ptrdiff_t len, Sink& sink) {
  size_t n = BytesBeforeNul(src, TextLength(src, len));
  codepage_c page(code_page);
  for (size_t pos = 0; pos < n;) {
    uint32_t cp;
    if (page.IsUtf8()) {
      cp = Utf8Decode(src, n, &pos);
    } else {
      size_t used = 1;
      cp = page.DecodeChar(src + pos, n - pos, &used);
      pos += used;
    }
    sink.PutCodePoint(cp == kInvalidCodePoint ? kReplacementUnit : cp);
  }
}

// Compares two sequences read by next(text, len, &pos) until both end; an ended side reads 0.
template <typename Unit, typename Next>
int CompareBy(const Unit* a, size_t alen, const Unit* b, size_t blen, Next next) {
  size_t ia = 0, ib = 0;
  while (ia < alen || ib < blen) {
    uint32_t x = ia < alen ? next(a, alen, &ia) : 0;
    uint32_t y = ib < blen ? next(b, blen, &ib) : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

uint32_t FoldedUtf16(const char16_t* s, size_t len, size_t* pos) {
  return FoldCase(Utf16Decode(s, len, pos));
}
uint32_t FoldedUtf8(const char* s, size_t len, size_t* pos) {
  return FoldCase(Utf8Decode(s, len, pos));
}
uint32_t AsciiUpperUnit(const char16_t* s, size_t len, size_t* pos) {
  return AsciiUpper(s[(*pos)++]);
}

// Converts into a local buffer first and asks the pool only for the exact size; a result that
// did not fit locally is converted again into the pool block.
template <typename Unit, typename Source, typename Convert>
Unit* ConvertIntoPool(malloc_i* pool, const Source* src, ptrdiff_t len, Convert convert) {
  if (!pool) return nullptr;
  Unit local[kPoolLocalUnits];
  size_t n = convert(local, kPoolLocalUnits, src, len);
  if (n >= SIZE_MAX / sizeof(Unit)) return nullptr;
  Unit* block = static_cast<Unit*>(pool->Allocate((n + 1) * sizeof(Unit)));
  if (!block) return nullptr;
  if (n < kPoolLocalUnits) {
    std::memcpy(block, local, (n + 1) * sizeof(Unit));
  } else {
    convert(block, n + 1, src, len);
  }
  return block;
}

}  // namespace

uint32_t Utf8Decode(const char* bytes, size_t len, size_t* pos) {
  size_t i = *pos;
  if (i >= len) return 0;
  uint8_t lead = static_cast<uint8_t>(bytes[i]);
  *pos = i + 1;
  if (lead < 0x80) return lead;
  size_t extra;
  uint32_t cp;
  if (lead >= 0xC0 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    extra = 3, cp = lead & 0x07;
  } else {
    return kInvalidCodePoint;  // a stray continuation byte or F8-FF
  }
  if (len - i - 1 < extra) return kInvalidCodePoint;
  for (size_t k = 1; k <= extra; ++k) {
    uint8_t next = static_cast<uint8_t>(bytes[i + k]);
    if ((next & 0xC0) != 0x80) return kInvalidCodePoint;
    cp = (cp << 6) | (next & 0x3F);
  }
  *pos = i + 1 + extra;
  return cp;
}

uint32_t Utf16Decode(const char16_t* units, size_t len, size_t* pos) {
  size_t i = *pos;
  if (i >= len) return 0;
  uint32_t u = units[i];
  *pos = i + 1;
  if (!IsSurrogate(u)) return u;
  if (IsHighSurrogate(u) && i + 1 < len && IsLowSurrogate(units[i + 1])) {
    *pos = i + 2;
    return 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
  }
  return kInvalidCodePoint;
}

void Utf8Encode(uint32_t cp, char* buf, size_t cap, size_t* pos) {
  uint8_t seq[6];
  size_t n;
  if (cp < 0x80) {
    seq[0] = static_cast<uint8_t>(cp), n = 1;
  } else if (cp > 0x7FFFFFFE) {
    seq[0] = 0xFF, n = 1;
  } else {
    // Long form: n - 1 continuation bytes of 6 bits behind a lead byte of n one-bits.
    n = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : cp < 0x200000 ? 4 : cp < 0x4000000 ? 5 : 6;
    for (size_t k = n - 1; k > 0; --k, cp >>= 6) seq[k] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    seq[0] = static_cast<uint8_t>((0xFF00u >> n) | cp);
  }
  for (size_t k = 0; k < n; ++k)
    if (*pos + k < cap) buf[*pos + k] = static_cast<char>(seq[k]);
  *pos += n;
}

void Utf16Encode(uint32_t cp, char16_t* buf, size_t cap, size_t* pos) {
  if (cp >= 0x10000 && cp <= 0x10FFFF) {
    if (*pos + 2 <= cap) {
      buf[*pos] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      buf[*pos + 1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    *pos += 2;
    return;
  }
  if (*pos < cap) buf[*pos] = static_cast<char16_t>(cp <= 0xFFFF ? cp : 0xFFFF);
  *pos += 1;
}

size_t Utf8ToUtf16(char16_t* dst, size_t cap, const char* src, ptrdiff_t len) {
  return Recode(dst, cap, src, len, Utf8Decode);
}

size_t Utf16ToUtf8(char* dst, size_t cap, const char16_t* src, ptrdiff_t len) {
  // An unpaired surrogate keeps its value, so the text survives the trip back.
  auto decode_keeping_surrogates = [](const char16_t* s, size_t n, size_t* pos) {
    uint32_t cp = Utf16Decode(s, n, pos);
    return cp == kInvalidCodePoint ? s[*pos - 1] : cp;
  };
  return Recode(dst, cap, src, len, decode_keeping_surrogates);
}

size_t CodePageToUtf16(uint32_t code_page, char16_t* dst, size_t cap, const char* src,
                       ptrdiff_t len) {
  TextSink<char16_t> sink(dst, cap);
  DecodeCodePage(code_page, src, len, sink);
  return sink.Finish();
}

size_t CodePageToUtf8(uint32_t code_page, char* dst, size_t cap, const char* src, ptrdiff_t len) {
  TextSink<char> sink(dst, cap);
  DecodeCodePage(code_page, src, len, sink);
  return sink.Finish();
}

size_t Utf16ToCodePage(uint32_t code_page, char* dst, size_t cap, const char16_t* src,
                       ptrdiff_t len) {
  TextSink<char> sink(dst, cap);
  size_t n = TextLength(src, len);
  codepage_c page(code_page);
  for (size_t pos = 0; pos < n;) {
    uint32_t cp = Utf16Decode(src, n, &pos);
    if (cp == 0) break;
    char bytes[kCodePageMaxCharBytes];
    size_t used = 0;
    if (cp > 0xFFFF) {
      used = 0;  // outside the basic plane, or an unpaired surrogate
    } else if (page.IsUtf8()) {
      Utf8Encode(cp, bytes, sizeof bytes, &used);
    } else {
      used = page.EncodeChar(static_cast<char16_t>(cp), bytes);
    }
    if (used == 0) bytes[0] = kUnrepresentableByte, used = 1;
    sink.Put(bytes, used);
  }
  return sink.Finish();
}

int CompareNoCase(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen) {
  return CompareBy(a, TextLength(a, alen), b, TextLength(b, blen), FoldedUtf16);
}

int Utf8CompareNoCase(const char* a, ptrdiff_t alen, const char* b, ptrdiff_t blen) {
  return CompareBy(a, TextLength(a, alen), b, TextLength(b, blen), FoldedUtf8);
}

int AsciiCompareNoCase(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen) {
  return CompareBy(a, TextLength(a, alen), b, TextLength(b, blen), AsciiUpperUnit);
}

int CompareCodePoints(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen) {
  return CompareBy(a, TextLength(a, alen), b, TextLength(b, blen), Utf16Decode);
}

size_t Utf16Length(const char16_t* s) {
  size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

size_t Utf8Length(const char* s) { return s ? std::strlen(s) : 0; }

char16_t* Utf8ToUtf16Pool(malloc_i* pool, const char* src, ptrdiff_t len) {
  return ConvertIntoPool<char16_t>(pool, src, len, Utf8ToUtf16);
}

char* Utf16ToUtf8Pool(malloc_i* pool, const char16_t* src, ptrdiff_t len) {
  return ConvertIntoPool<char>(pool, src, len, Utf16ToUtf8);
}
