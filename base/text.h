// UTF-8 / UTF-16 coding, code-page conversion, case folding, comparisons and glob matching.
//
// Lengths of -1 run to the terminator; a null text is empty. Code points are 32-bit and
// kInvalidCodePoint marks a malformed sequence. Buffer-writing routines follow the formatter's
// rule: count everything, write what fits, always terminate when capacity > 0. The converters
// cut only between whole characters, so a cut result never ends in half a sequence.
#pragma once
#include <cstddef>
#include <cstdint>

class malloc_i;

inline constexpr uint32_t kInvalidCodePoint = 0xFFFFFFFF;
// Code page 65001 is UTF-8 on every platform.
inline constexpr uint32_t kCodePageUtf8 = 65001;
// Only this many "*" of a glob pattern can stretch; later ones match the empty run only.
inline constexpr unsigned kGlobMaxStars = 50;

// The upper-case form of an ASCII letter; any other unit is itself.
constexpr char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

// Decode one code point at *pos (advancing it); a 0 byte/unit decodes as 0. At or past len the
// result is 0 and *pos stays. A malformed sequence gives kInvalidCodePoint and advances one.
// UTF-8 accepts overlong forms and surrogate values; lead bytes F8-FF are malformed.
uint32_t Utf8Decode(const char* bytes, size_t len, size_t* pos);
uint32_t Utf16Decode(const char16_t* units, size_t len, size_t* pos);
// Append one code point at *pos of a buffer of cap bytes/units; *pos always advances by the
// whole sequence. UTF-8 writes the bytes that fit (2- to 6-byte forms up to 0x7FFFFFFE, the
// single byte 0xFF above); UTF-16 writes a surrogate pair only whole, and 0xFFFF for values
// above U+10FFFF.
void Utf8Encode(uint32_t cp, char* buf, size_t cap, size_t* pos);
void Utf16Encode(uint32_t cp, char16_t* buf, size_t cap, size_t* pos);

// Both stop at a 0 byte/unit or the length. Utf16ToUtf8 writes an unpaired surrogate as its own
// 3-byte value, which Utf8ToUtf16 turns back into the same unit.
size_t Utf8ToUtf16(char16_t* dst, size_t cap, const char* src, ptrdiff_t len);
size_t Utf16ToUtf8(char* dst, size_t cap, const char16_t* src, ptrdiff_t len);

// Code page 0 is the ANSI code page (Windows) or the locale's character set (Linux). A 0 byte
// ends the text; a byte sequence the code page cannot convert becomes U+FFFF.
size_t CodePageToUtf16(uint32_t code_page, char16_t* dst, size_t cap, const char* src,
                       ptrdiff_t len);
size_t CodePageToUtf8(uint32_t code_page, char* dst, size_t cap, const char* src, ptrdiff_t len);
// Characters the code page cannot hold exactly, those above U+FFFF and unpaired surrogates
// become 0x7F.
size_t Utf16ToCodePage(uint32_t code_page, char* dst, size_t cap, const char16_t* src,
                       ptrdiff_t len);

// Simple case folding of Unicode 5.0 (statuses C and S); other values map to themselves.
uint32_t FoldCase(uint32_t cp);

// Three-way comparisons, -1, 0 or 1. The first differing value decides as an unsigned number
// and the end of a text reads as 0, so a proper prefix sorts first. The NoCase forms compare
// folded code points (malformed sequences read as kInvalidCodePoint); AsciiCompareNoCase
// compares UTF-16 units with a-z taken as A-Z; CompareCodePoints compares code points as they are.
int CompareNoCase(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen);
int Utf8CompareNoCase(const char* a, ptrdiff_t alen, const char* b, ptrdiff_t blen);
int AsciiCompareNoCase(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen);
int CompareCodePoints(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen);

// "*" matches any run (the first kGlobMaxStars of them; later ones only the empty run), "?" one
// character, anything else itself; no classes, no escape. GlobMatch works by code point,
// AsciiGlobMatchNoCase by UTF-16 unit with a-z taken as A-Z. Time is at most pattern length
// times subject length.
bool GlobMatch(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject, ptrdiff_t slen);
bool AsciiGlobMatchNoCase(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject,
                          ptrdiff_t slen);

// Length in units / bytes up to the terminator (0 for null).
size_t Utf16Length(const char16_t* s);
size_t Utf8Length(const char* s);

// Pool copies: UTF-8 -> UTF-16 and back, nullptr when the pool fails.
char16_t* Utf8ToUtf16Pool(malloc_i* pool, const char* src, ptrdiff_t len);
char* Utf16ToUtf8Pool(malloc_i* pool, const char16_t* src, ptrdiff_t len);
