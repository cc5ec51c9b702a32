#include "tools/paths.h"

#include "base/file.h"
#include "base/pool.h"
#include "base/text.h"

namespace tool {

std::u16string Wide(const std::string& text) {
  size_t n = CodePageToUtf16(0, nullptr, 0, text.data(), static_cast<ptrdiff_t>(text.size()));
  std::u16string out(n + 1, u'\0');
  CodePageToUtf16(0, out.data(), out.size(), text.data(), static_cast<ptrdiff_t>(text.size()));
  out.resize(n);
  return out;
}

std::string Narrow(const char16_t* text) {
  size_t n = Utf16ToCodePage(0, nullptr, 0, text, -1);
  std::string out(n + 1, '\0');
  Utf16ToCodePage(0, out.data(), out.size(), text, -1);
  out.resize(n);
  return out;
}

std::string ShownPath(const char16_t* path) {
  kd_mp_c pool;
  return Narrow(display_path(&pool, path));
}

}  // namespace tool
