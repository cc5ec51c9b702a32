#include "runner/dialog_template.h"

#include <cstring>

#include "base/endian.h"

namespace {

size_t StringBytes(const char16_t* text) {
  size_t units = 0;
  if (text)
    while (text[units]) ++units;
  return (units + 1) * sizeof(char16_t);
}

// Writes a NUL-terminated string (empty for null) and returns the bytes written.
size_t PutString(uint8_t* at, const char16_t* text) {
  size_t bytes = StringBytes(text);
  for (size_t i = 0; i + 2 < bytes; i += 2) StoreLe16(at + i, text[i / 2]);
  StoreLe16(at + bytes - 2, 0);
  return bytes;
}

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t(3); }

// Reserves a record of `bytes` at *length; returns where to write it, or null when it does not
// fit (or its length would overflow). The running length advances either way.
uint8_t* Reserve(uint8_t* buffer, size_t capacity, size_t* length, size_t bytes) {
  size_t start = *length;
  size_t end = RoundUp4(start + bytes);
  *length = end;
  if (!buffer || end < start || end > capacity) return nullptr;
  std::memset(buffer + start, 0, end - start);  // the padding stays zero
  return buffer + start;
}

}  // namespace

void GdiTemplateHeader(uint8_t* buffer, size_t capacity, size_t* length, const char16_t* class_name,
                       const char16_t* title, const char16_t* menu, int16_t width, int16_t height,
                       uint32_t style) {
  size_t bytes = kDlgStrings + StringBytes(menu) + StringBytes(class_name) + StringBytes(title) +
                 kDlgFontFace + StringBytes(kDialogFontFace);
  uint8_t* at = Reserve(buffer, capacity, length, bytes);
  if (!at) return;
  StoreLe16(at + kDlgVersion, kDlgVersionValue);
  StoreLe16(at + kDlgSignature, kDlgSignatureValue);
  StoreLe32(at + kDlgStyle, style | kDsSetFont | kDsFixedSys);
  StoreLe16(at + kDlgWidth, uint16_t(width));
  StoreLe16(at + kDlgHeight, uint16_t(height));
  uint8_t* p = at + kDlgStrings;
  p += PutString(p, menu);
  p += PutString(p, class_name);
  p += PutString(p, title);
  StoreLe16(p + kDlgFontPoints, kDialogFontPoints);
  StoreLe16(p + kDlgFontWeight, kDialogFontWeight);
  p[kDlgFontItalic] = kDialogFontItalic;
  p[kDlgFontCharset] = kDialogFontCharset;
  PutString(p + kDlgFontFace, kDialogFontFace);
}

void GdiTemplateItem(uint8_t* buffer, size_t capacity, size_t* length, const char16_t* class_name,
                     const char16_t* text, uint32_t id, int16_t x, int16_t y, int16_t width,
                     int16_t height, uint32_t style, uint32_t ex_style) {
  size_t bytes = kItemStrings + StringBytes(class_name) + StringBytes(text) + sizeof(uint16_t);
  uint8_t* at = Reserve(buffer, capacity, length, bytes);
  if (!at) return;
  StoreLe32(at + kItemExStyle, ex_style);
  StoreLe32(at + kItemStyle, style);
  StoreLe16(at + kItemX, uint16_t(x));
  StoreLe16(at + kItemY, uint16_t(y));
  StoreLe16(at + kItemWidth, uint16_t(width));
  StoreLe16(at + kItemHeight, uint16_t(height));
  StoreLe32(at + kItemId, id);
  uint8_t* p = at + kItemStrings;
  p += PutString(p, class_name);
  p += PutString(p, text);
  StoreLe16(p, 0);  // no creation data
  StoreLe16(buffer + kDlgItemCount, uint16_t(LoadLe16(buffer + kDlgItemCount) + 1));
}
