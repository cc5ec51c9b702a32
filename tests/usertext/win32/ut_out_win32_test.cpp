#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/test_support.h"
#include "usertext/std_redirect.h"
#include "usertext/ut_out.h"

TEST(UtOutWin32, CharactersTheAnsiCodePageLacksBecome0x7F) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "the ANSI code page is UTF-8";
  testing_support::ScratchDir dir;
  std::string path = dir.path() + "\\out.bin";
  {
    StdRedirect redirect(UtStdStream::kOutput, path);
    // Tibetan is in no ANSI code page; "A" is in all of them.
    UtWriteLines(&g_ut_out_stdout, u"A\u0F00A\n");
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  EXPECT_EQ(bytes.str(), "A\x7F" "A\r\n");
}

TEST(UtOutWin32, NoStandardHandleWritesNothing) {
  HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, INVALID_HANDLE_VALUE);
  EXPECT_EQ(UtReport(u"nowhere\n"), 8);
  SetStdHandle(STD_ERROR_HANDLE, nullptr);
  EXPECT_EQ(UtReport(u"nowhere\n"), 8);
  SetStdHandle(STD_ERROR_HANDLE, saved);
}
