// The shared one-line progress bar: its exact form, its bounds, and buffers too small for it.
#include "usertext/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Line(const char* label, uint32_t position, const char* detail) {
  char out[128];
  size_t length = ProgressLineRender(out, sizeof out, label, position, detail);
  EXPECT_EQ(length, std::string(out).size());
  return out;
}

TEST(ProgressLine, Form) {
  EXPECT_EQ(Line("packing", 0, "0 B/1 MiB"),
            "\rpacking [..............................]   0% 0 B/1 MiB\x1b[K");
  EXPECT_EQ(Line("packing", 3333, ""),
            "\rpacking [#########.....................]  33% \x1b[K");
  EXPECT_EQ(Line("x", 10000, "done"), "\rx [##############################] 100% done\x1b[K");
  EXPECT_EQ(Line(nullptr, 99999, nullptr), "\r [##############################] 100% \x1b[K");
  EXPECT_EQ(Line("", 999, ""), "\r [##............................]   9% \x1b[K");
}

TEST(ProgressLine, Utf16AndMeasuring) {
  size_t length = ProgressLineRender(static_cast<char16_t*>(nullptr), 0, u"Pr\u00fcfen", 5000, u"1:00");
  std::u16string out(length + 1, u'?');
  EXPECT_EQ(ProgressLineRender(out.data(), out.size(), u"Pr\u00fcfen", 5000, u"1:00"), length);
  out.resize(length);
  EXPECT_EQ(out, u"\rPr\u00fcfen [###############...............]  50% 1:00\x1b[K");
}

TEST(ProgressLine, Position) {
  EXPECT_EQ(ProgressLinePosition(0, 0), 0u);
  EXPECT_EQ(ProgressLinePosition(7, 0), 0u);
  EXPECT_EQ(ProgressLinePosition(1, 3), 3333u);
  EXPECT_EQ(ProgressLinePosition(3, 3), 10000u);
  EXPECT_EQ(ProgressLinePosition(9, 3), 10000u);  // done above total stays in range
  // Beyond what multiplies in 64 bits, still exact enough and never full before the end.
  EXPECT_EQ(ProgressLinePosition(UINT64_MAX - 1, UINT64_MAX), 9999u);
  EXPECT_EQ(ProgressLinePosition(UINT64_MAX / 2, UINT64_MAX), 5000u);
}

TEST(ProgressLine, ShortBufferIsCutAndTerminated) {
  char out[6] = {'?', '?', '?', '?', '?', '?'};
  size_t length = ProgressLineRender(out, 5, "label", 0, "");
  EXPECT_GT(length, 5u);
  EXPECT_EQ(std::string(out), "\rlab");
  EXPECT_EQ(out[5], '?');
}

}  // namespace
