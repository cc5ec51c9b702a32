// The runner's start-up pieces: its options, its temporary name, its texts and its
// diagnostic lines.
#include "runner/runner.h"

#include <gtest/gtest.h>

#include <string>

#include "base/pool.h"
#include "runner/diagnostic.h"
#include "runner/message_box.h"
#include "runner/runner_text.h"
#include "usertext/user_text.h"

TEST(Runner, ReservedOptionsGiveTheDefaults) {
  kd_mp_c pool;
  RunnerOptions options;
  options.run_exe = u"unchanged";
  read_runner_options(&pool, &options);
  EXPECT_FALSE(options.use_stderr);
  EXPECT_FALSE(options.require_administrator);
  EXPECT_FALSE(options.verify_media);
  EXPECT_EQ(std::u16string(options.run_exe), u"autorun.exe");
}

TEST(Runner, TemporaryNameIsBaseNameDashTime) {
  kd_mp_c pool;
  EXPECT_EQ(std::u16string(runner_temp_name(&pool, u"setup", 133500000000000000)),
            u"setup-133500000000000000");
  // A name past the formatter's first buffer of 100 units comes out whole.
  std::u16string long_name(150, u'n');
  EXPECT_EQ(std::u16string(runner_temp_name(&pool, long_name.c_str(), 1)), long_name + u"-1");
  EXPECT_EQ(std::u16string(runner_temp_name(&pool, u"a", -5)), u"a--5");
}

TEST(Runner, TextsHaveTheirDefaults) {
  kd_mp_c pool;
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"ERROR_CORRUPT_TITLE")), u"Media Corrupt or Incomplete");
  EXPECT_EQ(std::u16string(UserTextGet1(&pool, kUtErrorCorruptOrIncompleteMedia, u"C:\\setup.exe")),
            u"The file \"C:\\setup.exe\" is incomplete, corrupt, or missing additional part files.\n");
  EXPECT_EQ(std::u16string(UserTextGet2(&pool, kUtErrorEmbeddedCommandFailed, u"x.exe", u"2")),
            u"ERROR: 2 Unable to execute command \"x.exe\".");
  EXPECT_EQ(std::u16string(UserTextGet(&pool, kUtVerifySkipButton)), u"Skip");
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"locale_thous_grouping")), u"3;0");
}

TEST(Runner, DiagnosticLinesOnlyWithUseStderr) {
  testing::internal::CaptureStderr();
  diag_write(u"error %i mounting media, assuming corrupt/incomplete\n", 11);
  set_use_stderr(true);
  diag_write(u"error %i extracting media\n", 14);
  set_use_stderr(false);
  std::string written = testing::internal::GetCapturedStderr();
  std::erase(written, '\r');  // the sink may end lines with CR LF
  EXPECT_EQ(written, "error 14 extracting media\n");
}
