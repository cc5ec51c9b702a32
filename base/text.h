// UTF-8 / UTF-16 coding, code-page conversion, case folding, comparisons and glob matching.
//
// Lengths of -1 run to the terminator; a null text is empty. Code points are 32-bit and
// kInvalidCodePoint marks a malformed sequence. Buffer-writing routines follow the formatter's
// rule: count everything, write what fits, always terminate when capacity > 0.
#pragma once
#include <cstddef>
#include <cstdint>

class malloc_i;

inline constexpr uint32_t kInvalidCodePoint = 0xFFFFFFFF;

// Decode one code point at *pos (advancing it); a 0 byte/unit decodes as 0.
uint32_t Utf8Decode(const char* bytes, size_t len, size_t* pos);
uint32_t Utf16Decode(const char16_t* units, size_t len, size_t* pos);
// Append one code point at *pos of a buffer of cap bytes/units; *pos always advances by the
// whole sequence, bytes that do not fit are not written.
void Utf8Encode(uint32_t cp, char* buf, size_t cap, size_t* pos);
void Utf16Encode(uint32_t cp, char16_t* buf, size_t cap, size_t* pos);

size_t Utf8ToUtf16(char16_t* dst, size_t cap, const char* src, ptrdiff_t len);
size_t Utf16ToUtf8(char* dst, size_t cap, const char16_t* src, ptrdiff_t len);

// Code page 0 is the ANSI code page (Windows) or the locale's character set (Linux).
size_t CodePageToUtf16(uint32_t code_page, char16_t* dst, size_t cap, const char* src, ptrdiff_t len);
size_t CodePageToUtf8(uint32_t code_page, char* dst, size_t cap, const char* src, ptrdiff_t len);
// Characters the code page cannot hold become 0x7F.
size_t Utf16ToCodePage(uint32_t code_page, char* dst, size_t cap, const char16_t* src, ptrdiff_t len);

// Simple case folding of Unicode 5.0 (statuses C and S).
uint32_t FoldCase(uint32_t cp);

int CompareNoCase(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen);
int Utf8CompareNoCase(const char* a, ptrdiff_t alen, const char* b, ptrdiff_t blen);
int AsciiCompareNoCase(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen);
int CompareCodePoints(const char16_t* a, ptrdiff_t alen, const char16_t* b, ptrdiff_t blen);

bool GlobMatch(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject, ptrdiff_t slen);
bool AsciiGlobMatchNoCase(const char16_t* pattern, ptrdiff_t plen, const char16_t* subject,
                          ptrdiff_t slen);

// Length in units / bytes up to the terminator (0 for null).
size_t Utf16Length(const char16_t* s);
size_t Utf8Length(const char* s);

// Pool copies: UTF-8 -> UTF-16 and back, nullptr when the pool fails.
char16_t* Utf8ToUtf16Pool(malloc_i* pool, const char* src, ptrdiff_t len);
char* Utf16ToUtf8Pool(malloc_i* pool, const char16_t* src, ptrdiff_t len);
