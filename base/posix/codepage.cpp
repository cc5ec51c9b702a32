// codepage_c on Linux: code page 0 is the locale's character set, other pages go through iconv
// under their usual names.
#include "base/codepage.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace {

constexpr size_t kCharsetNameMax = 64;
constexpr size_t kLongestChar = 4;  // bytes tried before a character is given up
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
const char kUnicodeSide[] = "UTF-32LE";

struct CharsetName {
  char text[kCharsetNameMax];
};

// The character set of the environment's locale, read without touching the process locale.
CharsetName ReadLocaleCharset() {
  CharsetName name{};
  locale_t env = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (env) {
    std::snprintf(name.text, sizeof name.text, "%s", nl_langinfo_l(CODESET, env));
    freelocale(env);
  }
  return name;
}

const char* LocaleCharset() {
  static const CharsetName name = ReadLocaleCharset();
  return name.text;
}

// The plain C locale names ASCII. Terminals are UTF-8 nowadays even when no locale is set, and
// ASCII is a subset of UTF-8, so such a locale is read as UTF-8 rather than losing every
// character past 0x7F.
bool NamesUtf8(const char* charset) {
  return charset[0] == 0 || strcasecmp(charset, "UTF-8") == 0 || strcasecmp(charset, "UTF8") == 0 ||
         strcasecmp(charset, "ANSI_X3.4-1968") == 0 || strcasecmp(charset, "ASCII") == 0;
}

struct NamedPage {
  uint32_t code_page;
  const char* charset;
};

// Numbers whose iconv names are not "CP<number>".
constexpr NamedPage kNamedPages[] = {
    {20127, "ASCII"},       {20866, "KOI8-R"},      {21866, "KOI8-U"},     {20932, "EUC-JP"},
    {51932, "EUC-JP"},      {51949, "EUC-KR"},      {54936, "GB18030"},    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"}, {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
};

void CharsetOf(uint32_t code_page, char (&name)[kCharsetNameMax]) {
  if (code_page == 0) {
    std::snprintf(name, sizeof name, "%s", LocaleCharset());
    return;
  }
  for (const NamedPage& page : kNamedPages) {
    if (page.code_page == code_page) {
      std::snprintf(name, sizeof name, "%s", page.charset);
      return;
    }
  }
  std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(code_page));
}

// What the object keeps: the two converters, or 0 where iconv has none.
enum : size_t { kToUnicode = 0, kFromUnicode = 1 };

uintptr_t Keep(iconv_t cd) { return cd == kNoConverter ? 0 : reinterpret_cast<uintptr_t>(cd); }
iconv_t AsConverter(uintptr_t kept) { return reinterpret_cast<iconv_t>(kept); }

enum class Outcome { kWhole, kCutShort, kFailed };

// One conversion from a fresh state: all of the input became output exactly, the input ends
// inside a character, or it cannot be converted.
Outcome ConvertWhole(iconv_t cd, const char* in, size_t in_len, char* out, size_t* out_len) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(in);
  char* dst = out;
  size_t src_left = in_len, dst_left = *out_len;
  size_t inexact = iconv(cd, &src, &src_left, &dst, &dst_left);
  if (inexact == static_cast<size_t>(-1))
    return errno == EINVAL ? Outcome::kCutShort : Outcome::kFailed;
  // Flush the shift state of stateful character sets.
  if (iconv(cd, nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1))
    return Outcome::kFailed;
  *out_len = static_cast<size_t>(dst - out);
  return src_left == 0 && inexact == 0 ? Outcome::kWhole : Outcome::kFailed;
}

uint32_t ReadUtf32Le(const unsigned char* b) {
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace

codepage_c::codepage_c(uint32_t code_page) {
  char charset[kCharsetNameMax];
  CharsetOf(code_page, charset);
  utf8_ = code_page == kCodePageUtf8 || NamesUtf8(charset);
  if (utf8_) return;
  system_[kToUnicode] = Keep(iconv_open(kUnicodeSide, charset));
  system_[kFromUnicode] = Keep(iconv_open(charset, kUnicodeSide));
}

codepage_c::~codepage_c() {
  for (uintptr_t kept : system_)
    if (kept) iconv_close(AsConverter(kept));
}

uint32_t codepage_c::DecodeChar(const char* bytes, size_t len, size_t* used) {
  *used = 1;
  iconv_t cd = AsConverter(system_[kToUnicode]);
  if (!cd) return kInvalidCodePoint;
  // Widen the window a byte at a time until the bytes form one whole character.
  for (size_t n = 1; n <= len && n <= kLongestChar; ++n) {
    unsigned char out[8];
    size_t out_len = sizeof out;
    Outcome outcome = ConvertWhole(cd, bytes, n, reinterpret_cast<char*>(out), &out_len);
    if (outcome == Outcome::kFailed) return kInvalidCodePoint;
    if (outcome == Outcome::kWhole) {
      if (out_len != 4) return kInvalidCodePoint;  // several code points, or none
      *used = n;
      return ReadUtf32Le(out);
    }
  }
  return kInvalidCodePoint;
}

size_t codepage_c::EncodeChar(char16_t unit, char out[kCodePageMaxCharBytes]) {
  iconv_t cd = AsConverter(system_[kFromUnicode]);
  if (!cd) return 0;
  const unsigned char in[4] = {static_cast<unsigned char>(unit & 0xFF),
                               static_cast<unsigned char>(unit >> 8), 0, 0};
  size_t out_len = kCodePageMaxCharBytes;
  Outcome outcome = ConvertWhole(cd, reinterpret_cast<const char*>(in), sizeof in, out, &out_len);
  return outcome == Outcome::kWhole ? out_len : 0;
}
