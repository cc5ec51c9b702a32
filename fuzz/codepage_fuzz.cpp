// Arbitrary bytes through the code-page decoders and encoder: the first byte picks the page
// (single-byte, double-byte and the system's own among them), the rest is the text. Sizing and
// writing agree, a short buffer gets a terminated prefix, and a text converted to UTF-16 and
// back to the same page converts again to the same units.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr uint32_t kPages[] = {0, 437, 850, 866, 874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1255, 1256, 20127, 28591, kCodePageUtf8};

std::vector<char16_t> Decode(uint32_t page, const char* bytes, size_t len) {
  size_t n = CodePageToUtf16(page, nullptr, 0, bytes, static_cast<ptrdiff_t>(len));
  std::vector<char16_t> out(n + 1, u'#');
  Check(CodePageToUtf16(page, out.data(), out.size(), bytes, static_cast<ptrdiff_t>(len)) == n);
  Check(out[n] == 0 && Utf16Length(out.data()) <= n);
  std::vector<char16_t> cut(n / 2 + 1, u'#');
  Check(CodePageToUtf16(page, cut.data(), cut.size(), bytes, static_cast<ptrdiff_t>(len)) == n);
  Check(Utf16Length(cut.data()) < cut.size());
  out.resize(Utf16Length(out.data()));
  return out;
}

std::vector<char> Encode(uint32_t page, const std::vector<char16_t>& text) {
  const ptrdiff_t len = static_cast<ptrdiff_t>(text.size());
  size_t n = Utf16ToCodePage(page, nullptr, 0, text.data(), len);
  std::vector<char> out(n + 1, '#');
  Check(Utf16ToCodePage(page, out.data(), out.size(), text.data(), len) == n);
  Check(out[n] == 0);
  out.resize(n);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t page = kPages[data[0] % (sizeof kPages / sizeof kPages[0])];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  std::vector<char16_t> text = Decode(page, bytes, size - 1);
  size_t utf8 = CodePageToUtf8(page, nullptr, 0, bytes, static_cast<ptrdiff_t>(size - 1));
  Check(utf8 <= 3 * (size - 1));
  // What the page wrote it can read again as written.
  std::vector<char> again = Encode(page, text);
  std::vector<char16_t> twice = Decode(page, again.data(), again.size());
  std::vector<char> thrice = Encode(page, twice);
  Check(thrice == again);
  return 0;
}
