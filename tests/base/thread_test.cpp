#include "base/thread.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "base/thread_os.h"

namespace {
// Death tests re-run the test program for their child, so it starts with no other threads.
class ThreadDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
}  // namespace

// ---- Clocks --------------------------------------------------------------------------------

TEST(Clock, WallClockIsAfter2020AndMonotonicNeverGoesBack) {
  // 2020-01-01 in 100-ns units since 1601.
  EXPECT_GT(system_time_now(), 132223104000000000);
  uint64_t previous = monotonic_ms();
  for (int i = 0; i < 1000; ++i) {
    uint64_t now = monotonic_ms();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(Clock, TickWideningCountsWrapsAndIgnoresStaleReadings) {
  EXPECT_EQ(widen_tick_step(0, 3000000000u), 3000000000u);  // first reading, any size
  EXPECT_EQ(widen_tick_step(100, 250), 250u);
  EXPECT_EQ(widen_tick_step(0xFFFFFF00u, 0x10), 0x100000010u);  // across a wrap
  EXPECT_EQ(widen_tick_step(0x2FFFFFF00u, 0x10), 0x300000010u);
  EXPECT_EQ(widen_tick_step(5000, 4990), 5000u);  // a reading that lost a race
  EXPECT_EQ(widen_tick_step(0x100000010u, 0xFFFFFF00u), 0x100000010u);
}

// ---- Exit callbacks ------------------------------------------------------------------------

namespace {
void PrintTag(void* tag) { std::fprintf(stderr, "%s,", static_cast<const char*>(tag)); }
void RegisterLate(void*) { at_process_exit(PrintTag, const_cast<char*>("late")); }
}  // namespace

TEST_F(ThreadDeathTest, ExitCallbacksRunOnceEachNewestFirst) {
  EXPECT_EXIT(
      {
        at_process_exit(PrintTag, const_cast<char*>("first"));
        at_process_exit(RegisterLate, nullptr);
        at_process_exit(PrintTag, const_cast<char*>("second"));
        std::fflush(stderr);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^second,late,first,$");
}
