#include "usertext/ut_out.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/pool.h"
#include "support/test_support.h"
#include "support/vtable_slot.h"
#include "usertext/std_redirect.h"

namespace {

using Lines = std::vector<std::pair<std::u16string, bool>>;

// Records every write it is given.
class RecordingSink : public UtOut {
 public:
  int write(const char16_t* text, bool line_end) override {
    lines.emplace_back(text, line_end);
    return 0;
  }
  Lines lines;
};

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// What a standard sink writes for one call of the line splitter, as bytes.
std::string BytesWritten(UtOut* sink, UtStdStream stream, const char16_t* text) {
  testing_support::ScratchDir dir;
  std::string path = dir.path() + "/out.bin";
  {
    StdRedirect redirect(stream, path);
    UtWriteLines(sink, text);
  }
  return ReadFileBytes(path);
}

}  // namespace

TEST(UtOut, WriteIsTheOnlySlot) {
  EXPECT_EQ(testing_support::VtableSlot(&UtOut::write), 0u);
}

TEST(UtOut, LineSplitter) {
  const std::u16string long_piece(300, u'x');
  struct Case {
    std::u16string text;
    Lines lines;
  } cases[] = {
      {u"a\r\nb", {{u"a", true}, {u"b", false}}},
      {u"", {{u"", false}}},
      {u"one line", {{u"one line", false}}},
      {u"ends\n", {{u"ends", true}}},
      {u"\n\n", {{u"", true}, {u"", true}}},
      {u"cr\r\r\n", {{u"cr\r", true}}},  // only the carriage return before the feed goes
      {u"a\rb", {{u"a\rb", false}}},
      {u"x\n\r\ny", {{u"x", true}, {u"", true}, {u"y", false}}},
      {long_piece + u"\n" + long_piece, {{long_piece, true}, {long_piece, false}}},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    EXPECT_EQ(UtWriteLines(&sink, c.text.c_str()), int(c.text.size()));
    EXPECT_EQ(sink.lines, c.lines) << "text of " << c.text.size() << " units";
  }
  EXPECT_EQ(UtWriteLines(nullptr, u"dropped\n"), 8);
  EXPECT_EQ(UtWriteLines(&g_ut_out_nul, u"dropped\n"), 8);
}

TEST(UtOut, StandardSinksWriteOneLineAtATimeWithThePlatformLineEnd) {
  const std::string eol = kUtLineEnd;
  EXPECT_EQ(BytesWritten(&g_ut_out_stdout, UtStdStream::kOutput, u"a\r\nb"), "a" + eol + "b");
  EXPECT_EQ(BytesWritten(&g_ut_out_stderr, UtStdStream::kError, u"x\ny\n"), "x" + eol + "y" + eol);
  EXPECT_EQ(BytesWritten(&g_ut_out_stdout, UtStdStream::kOutput, u""), "");
  EXPECT_EQ(BytesWritten(g_ut_report_sink, UtStdStream::kError, u"error 11 extracting media\n"),
            "error 11 extracting media" + eol);
  // The null sink writes nowhere, not even where the standard handles point.
  EXPECT_EQ(BytesWritten(&g_ut_out_nul, UtStdStream::kOutput, u"gone\n"), "");
}

TEST(UtOut, UnrepresentableCharactersBecome0x7F) {
  // Outside the basic plane, and an unpaired surrogate.
  EXPECT_EQ(BytesWritten(&g_ut_out_stdout, UtStdStream::kOutput, u"x\U0001F600y\xD800z"),
            "x\x7Fy\x7Fz");
}

TEST(UtOut, LongLinesAreWrittenWholeOrCutWithoutMemory) {
  std::u16string line(300, u'w');
  std::string expected(300, 'w');
  EXPECT_EQ(BytesWritten(&g_ut_out_stdout, UtStdStream::kOutput, line.c_str()), expected);
  for (size_t length : {197, 198}) {  // the longest line kept on the stack, and one more
    std::u16string text(length, u'v');
    EXPECT_EQ(BytesWritten(&g_ut_out_stdout, UtStdStream::kOutput, (text + u"\n").c_str()),
              std::string(length, 'v') + kUtLineEnd);
  }

  testing_support::ScratchDir dir;
  std::string path = dir.path() + "/out.bin";
  {
    StdRedirect redirect(UtStdStream::kOutput, path);
    PoolFailNextAllocations(1);
    g_ut_out_stdout.write(line.c_str(), true);
    PoolFailNextAllocations(0);
  }
  EXPECT_EQ(ReadFileBytes(path), std::string(197, 'w') + kUtLineEnd);
}
