// The extended dialog template builders: byte-exact records, measuring and filling passes, and
// buffers too small for the template.
#include "runner/dialog_template.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A dialog of class "C", title "Ti", no menu, 225 x 40 dialog units, with one "Button" "OK"
// (id 2) at 161,22 sized 60 x 14, written out field by field.
const uint8_t kExpected[] = {
    0x01, 0x00, 0xFF, 0xFF,                          // version 1, signature
    0x00, 0x00, 0x00, 0x00,                          // help id
    0x00, 0x00, 0x00, 0x00,                          // extended style
    0xC8, 0x00, 0xCA, 0x80,                          // 0x80CA0080 | DS_SETFONT | DS_FIXEDSYS
    0x01, 0x00,                                      // one item
    0x00, 0x00, 0x00, 0x00, 0xE1, 0x00, 0x28, 0x00,  // x 0, y 0, 225 x 40
    0x00, 0x00,                                      // no menu
    'C', 0, 0, 0,                                    // class
    'T', 0, 'i', 0, 0, 0,                            // title
    0x08, 0x00, 0x00, 0x00, 0x00, 0x01,              // 8 points, weight 0, upright, charset 1
    'M', 0, 'S', 0, ' ', 0, 'S', 0, 'h', 0, 'e', 0, 'l', 0, 'l', 0,
    ' ', 0, 'D', 0, 'l', 0, 'g', 0, ' ', 0, '2', 0, 0, 0,
    0x00, 0x00,                                      // pad to 76
    0x00, 0x00, 0x00, 0x00,                          // item: help id
    0x00, 0x00, 0x00, 0x00,                          // extended style
    0x00, 0x00, 0x01, 0x50,                          // style
    0xA1, 0x00, 0x16, 0x00, 0x3C, 0x00, 0x0E, 0x00,  // 161, 22, 60 x 14
    0x02, 0x00, 0x00, 0x00,                          // id
    'B', 0, 'u', 0, 't', 0, 't', 0, 'o', 0, 'n', 0, 0, 0,
    'O', 0, 'K', 0, 0, 0,
    0x00, 0x00,                                      // no creation data
    0x00, 0x00,                                      // pad to 124
};

size_t Build(uint8_t* buffer, size_t capacity) {
  size_t length = 0;
  GdiTemplateHeader(buffer, capacity, &length, u"C", u"Ti", nullptr, 225, 40, 0x80CA0080);
  GdiTemplateItem(buffer, capacity, &length, u"Button", u"OK", 2, 161, 22, 60, 14, 0x50010000, 0);
  return length;
}

TEST(DialogTemplate, MeasuresThenFillsByteExact) {
  size_t size = Build(nullptr, 0);
  ASSERT_EQ(size, sizeof kExpected);
  std::vector<uint8_t> buffer(size, 0xCC);  // padding must be written, not inherited
  EXPECT_EQ(Build(buffer.data(), buffer.size()), size);
  EXPECT_EQ(buffer, std::vector<uint8_t>(kExpected, kExpected + sizeof kExpected));
}

TEST(DialogTemplate, TooSmallWritesOnlyWhatFitsAndStillMeasures) {
  std::vector<uint8_t> buffer(sizeof kExpected + 8, 0xCC);
  // Room for the header but not the item: the header alone, counting no item.
  EXPECT_EQ(Build(buffer.data(), sizeof kExpected - 1), sizeof kExpected);
  EXPECT_EQ(buffer[kDlgItemCount], 0);
  EXPECT_EQ(buffer[76], 0xCC);
  // Room for nothing: nothing written.
  std::fill(buffer.begin(), buffer.end(), 0xCC);
  EXPECT_EQ(Build(buffer.data(), 75), sizeof kExpected);
  for (uint8_t b : buffer) ASSERT_EQ(b, 0xCC);
}

TEST(DialogTemplate, NullStringsAreEmptyAndRecordsStayAligned) {
  size_t length = 0;
  GdiTemplateHeader(nullptr, 0, &length, nullptr, nullptr, nullptr, 1, 1, 0);
  // 26 fixed + three empty strings + 6 font bytes + face (30 bytes) = 68.
  EXPECT_EQ(length, 68u);
  for (int odd = 0; odd < 3; ++odd) {
    size_t before = length;
    std::u16string text(size_t(odd), u'x');
    GdiTemplateItem(nullptr, 0, &length, u"Static", text.c_str(), 1, 0, 0, 1, 1, 0, 0);
    EXPECT_EQ(length % 4, 0u);
    EXPECT_GE(length - before, 24u + 14u + 2u * (text.size() + 1) + 2u);
  }
}

}  // namespace
