// Arbitrary bytes through the UTF-8 decoder, the UTF-16 round trip, the comparisons and the
// glob matcher, checking the invariants every caller relies on.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Each call moves forward by a whole sequence (one byte when malformed), never past the end.
void CheckDecoderAdvances(const char* bytes, size_t len) {
  for (size_t pos = 0; pos < len;) {
    size_t before = pos;
    uint32_t cp = Utf8Decode(bytes, len, &pos);
    Check(pos > before && pos <= len && pos - before <= 4);
    if (cp == kInvalidCodePoint) Check(pos - before == 1);
  }
}

std::vector<char16_t> ToUtf16(const char* bytes, size_t len) {
  size_t n = Utf8ToUtf16(nullptr, 0, bytes, static_cast<ptrdiff_t>(len));
  std::vector<char16_t> out(n + 1, u'#');
  Check(Utf8ToUtf16(out.data(), out.size(), bytes, static_cast<ptrdiff_t>(len)) == n);
  Check(out[n] == 0 && Utf16Length(out.data()) == n);
  // A short buffer gets the same count and a terminated prefix.
  std::vector<char16_t> cut(n / 2 + 1, u'#');
  Check(Utf8ToUtf16(cut.data(), cut.size(), bytes, static_cast<ptrdiff_t>(len)) == n);
  size_t kept = Utf16Length(cut.data());
  Check(kept < cut.size());
  for (size_t i = 0; i < kept; ++i) Check(cut[i] == out[i]);
  out.pop_back();
  return out;
}

// UTF-16 -> UTF-8 -> UTF-16 gives back the same units, unpaired surrogates included.
void CheckRoundTrip(const std::vector<char16_t>& text) {
  const ptrdiff_t len = static_cast<ptrdiff_t>(text.size());
  size_t n = Utf16ToUtf8(nullptr, 0, text.data(), len);
  std::vector<char> utf8(n + 1);
  Check(Utf16ToUtf8(utf8.data(), utf8.size(), text.data(), len) == n);
  std::vector<char16_t> back = ToUtf16(utf8.data(), n);
  Check(back == text);
  std::vector<char16_t> via_page(text.size() + 1);
  Check(CodePageToUtf16(kCodePageUtf8, via_page.data(), via_page.size(), utf8.data(),
                        static_cast<ptrdiff_t>(n)) == text.size());
  size_t bytes = Utf16ToCodePage(kCodePageUtf8, nullptr, 0, text.data(), len);
  Check(bytes >= text.size() / 2 && bytes <= 3 * text.size());
}

void CheckComparisons(const std::vector<char16_t>& a, const std::vector<char16_t>& b,
                      const char* a8, size_t a8len, const char* b8, size_t b8len) {
  const ptrdiff_t al = static_cast<ptrdiff_t>(a.size()), bl = static_cast<ptrdiff_t>(b.size());
  for (auto compare : {CompareNoCase, AsciiCompareNoCase, CompareCodePoints}) {
    Check(compare(a.data(), al, a.data(), al) == 0);
    Check(compare(a.data(), al, b.data(), bl) == -compare(b.data(), bl, a.data(), al));
  }
  const ptrdiff_t a8l = static_cast<ptrdiff_t>(a8len), b8l = static_cast<ptrdiff_t>(b8len);
  Check(Utf8CompareNoCase(a8, a8l, b8, b8l) == -Utf8CompareNoCase(b8, b8l, a8, a8l));
  Check(Utf8CompareNoCase(a8, a8l, a8, a8l) == 0);
}

void CheckGlob(const std::vector<char16_t>& pattern, const std::vector<char16_t>& subject) {
  const ptrdiff_t pl = static_cast<ptrdiff_t>(pattern.size());
  GlobMatch(pattern.data(), pl, subject.data(), static_cast<ptrdiff_t>(subject.size()));
  AsciiGlobMatchNoCase(pattern.data(), pl, subject.data(), static_cast<ptrdiff_t>(subject.size()));
  size_t stars = 0;
  for (char16_t u : pattern) stars += u == u'*';
  // A pattern matches its own text while each of its stars can stretch.
  if (stars <= kGlobMaxStars) {
    Check(GlobMatch(pattern.data(), pl, pattern.data(), pl));
    Check(AsciiGlobMatchNoCase(pattern.data(), pl, pattern.data(), pl));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  CheckDecoderAdvances(bytes, size);
  std::vector<char16_t> whole = ToUtf16(bytes, size);
  CheckRoundTrip(whole);
  // The first 0xFF byte splits the input into two texts: pattern and subject, a and b.
  size_t split = 0;
  while (split < size && data[split] != 0xFF) ++split;
  const char* rest = bytes + (split < size ? split + 1 : size);
  size_t rest_len = size - static_cast<size_t>(rest - bytes);
  std::vector<char16_t> first = ToUtf16(bytes, split), second = ToUtf16(rest, rest_len);
  CheckComparisons(first, second, bytes, split, rest, rest_len);
  CheckGlob(first, second);
  return 0;
}
