// The Linux runner's message box: caption and body on standard error, one line each.
#include "runner/message_box.h"

#include <gtest/gtest.h>

#include <string>

#include "runner/runner.h"

TEST(PosixMessageBox, CaptionAndBodyAreOneLineEach) {
  testing::internal::CaptureStderr();
  show_message_box(u"Media Corrupt or Incomplete", u"The file \"x\" is incomplete.\n");
  show_message_box(u"Caption", u"Two\nlines\r\n\n");
  show_message_box(nullptr, u"");
  std::string written = testing::internal::GetCapturedStderr();
  std::erase(written, '\r');  // the sink may end lines with CR LF
  EXPECT_EQ(written,
            "Media Corrupt or Incomplete\nThe file \"x\" is incomplete.\n"
            "Caption\nTwo\nlines\n"
            "\n\n");
}

// A run the system's protections would not let start: its box names the program and the
// error, and nothing else happens.
TEST(PosixMessageBox, RefusedStartShowsTheCommandBoxAndGives99) {
  testing::internal::CaptureStderr();
  int code = runner_refuse_start(u"setup", kErrInvalidParameter);
  std::string written = testing::internal::GetCapturedStderr();
  std::erase(written, '\r');
  EXPECT_EQ(code, kExitRunnerFailed);
  EXPECT_EQ(written, "setup\nERROR: 87 Unable to execute command \"setup\".\n");
}
