// The verify progress record: the show rule, the bar, the elapsed-time text, the lock-guarded
// fields under two threads, and the terminal line that Linux shows instead of a window.
#include "runner/verify_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/pool.h"
#include "runner/resources.h"
#include "runner/runner.h"
#include "runner/verify_line.h"
#include "support/vtable_slot.h"
#include "usertext/ut_out.h"

namespace {

using testing_support::VtableSlot;

constexpr int64_t kSecond = 10000000;

class Record final : public SeVerifyRecord {};

TEST(VerifyProgress, SlotOrder) {
  EXPECT_EQ(VtableSlot(&SeVerifyProgress::OnProgress), 0u);
  EXPECT_EQ(VtableSlot(&SeVerifyProgress::OnFinished), 1u);
  EXPECT_EQ(VtableSlot(&SeVerifyRecord::OnProgress), 0u);
  EXPECT_EQ(VtableSlot(&SeVerifyRecord::OnFinished), 1u);
  EXPECT_EQ(VtableSlot(&SeVerifyRecord::OpenView), 2u);
  EXPECT_EQ(VtableSlot(&SeVerifyRecord::CloseView), 3u);
}

TEST(VerifyProgress, ShowRule) {
  // Never within the first second.
  EXPECT_FALSE(VerifyViewDue(kSecond, 0, 100));
  EXPECT_FALSE(VerifyViewDue(-5 * kSecond, 0, 0));
  // After it: when not yet half-way, or the total is unknown.
  EXPECT_TRUE(VerifyViewDue(kSecond + 1, 49, 100));
  EXPECT_TRUE(VerifyViewDue(kSecond + 1, 0, 0));
  // Half-way already: only after 2.25 seconds.
  EXPECT_FALSE(VerifyViewDue(kSecond + 1, 50, 100));
  EXPECT_FALSE(VerifyViewDue(22500000, 100, 100));
  EXPECT_TRUE(VerifyViewDue(22500001, 100, 100));
  EXPECT_TRUE(VerifyViewDue(22500001, 500, 100));  // done above total
}

TEST(VerifyProgress, BarPosition) {
  EXPECT_EQ(VerifyBarPosition(7, 0), 0u);  // an unknown total: an empty bar
  EXPECT_EQ(VerifyBarPosition(6144000, 6144000 * 4), 2500u);
  EXPECT_EQ(VerifyBarPosition(9, 3), 10000u);
}

TEST(VerifyProgress, ElapsedText) {
  kd_mp_c pool;
  int64_t duration = ((1 * 3600 + 2 * 60 + 3) * 1000 + 4) * 10000LL;
  EXPECT_EQ(std::u16string(VerifyElapsedText(&pool, duration)), u"Elapsed time:  1:02:03.004");
  EXPECT_EQ(std::u16string(VerifyElapsedText(&pool, 0)), u"Elapsed time:  0:00:00.000");
}

TEST(VerifyProgress, FramesShowOnceAndStayVisible) {
  Record r;
  kd_mp_c pool;
  r.OnProgress(0, 0);  // an unknown total: shown after one second with an empty bar
  VerifyFrame f = r.NextFrame(&pool, kSecond / 2);
  EXPECT_FALSE(f.show_now);
  EXPECT_FALSE(f.visible);
  f = r.NextFrame(&pool, kSecond + 1000000);
  EXPECT_TRUE(f.show_now);
  EXPECT_TRUE(f.visible);
  EXPECT_EQ(f.position, 0u);
  EXPECT_EQ(std::u16string(f.elapsed), u"Elapsed time:  0:00:01.100");
  r.OnProgress(90, 100);  // past half-way: no longer due, but already shown
  f = r.NextFrame(&pool, kSecond + 2000000);
  EXPECT_FALSE(f.show_now);
  EXPECT_TRUE(f.visible);
  EXPECT_EQ(f.position, 9000u);
}

TEST(VerifyProgress, QuickVerifyNeverShows) {
  Record r;
  kd_mp_c pool;
  r.OnProgress(60, 100);
  EXPECT_FALSE(r.NextFrame(&pool, kSecond / 2).visible);
  EXPECT_FALSE(r.NextFrame(&pool, 2 * kSecond).visible);
}

TEST(VerifyProgress, StopRequestReachesTheVerify) {
  Record r;
  EXPECT_FALSE(r.OnProgress(0, 10));
  r.RequestStop();
  r.RequestStop();  // Skip pressed twice
  EXPECT_TRUE(r.StopRequested());
  EXPECT_TRUE(r.OnProgress(1, 10));
  EXPECT_FALSE(r.Finished());
  r.OnFinished();
  EXPECT_TRUE(r.Finished());
  EXPECT_FALSE(r.OpenView());  // the record alone has no view
  r.CloseView();
}

TEST(VerifyProgress, ATriggeredStopPinStopsTheVerifyLikeSkip) {
  Record r;
  kdsync_pin_c interrupt;
  r.StopOn(&interrupt);
  EXPECT_FALSE(r.OnProgress(0, 10));
  interrupt.trigger();
  EXPECT_TRUE(r.OnProgress(1, 10));
}

TEST(VerifyProgress, TwoThreadsShareTheRecord) {
  Record r;
  std::atomic<bool> stop_seen{false};
  std::thread verify([&] {
    for (uint64_t done = 0; !stop_seen; done += 4096) {
      if (r.OnProgress(done, done * 2 + 1)) stop_seen = true;
    }
  });
  kd_mp_c pool;
  for (int i = 0; i < 2000; ++i) {
    VerifyFrame f = r.NextFrame(&pool, 3 * kSecond);
    ASSERT_LE(f.position, 5000u);  // done is always below half of total here
    if (i == 1000) r.RequestStop();
  }
  verify.join();
  EXPECT_TRUE(stop_seen);
}

// ---- The runner's verify step --------------------------------------------------------------

// A volume whose verify walks `chunks` steps the way the media's pass does.
class VerifyingVolume final : public SeVolume {
 public:
  uint64_t chunks = 8;
  err_t result = kOk;
  uint64_t steps = 0;

  err_t Verify(SeVerifyProgress* progress) override {
    for (steps = 0; steps < chunks; ++steps) {
      if (progress && progress->OnProgress(steps, chunks)) {
        ++steps;  // the chunk asked about is still read
        break;
      }
    }
    return result;
  }
  void Release() override {}
  void FreeString(char16_t*) override {}
  err_t Lookup(const SePathComponent*, uint32_t, uint64_t, SeLookupResult*, char16_t**) override {
    return kErrNotSupported;
  }
  err_t Forget(uint64_t, uint64_t) override { return kOk; }
  err_t List(uint64_t, uint64_t, SeListResult*) override { return kErrNotSupported; }
  err_t CloseList(uint64_t, uint64_t) override { return kOk; }
  err_t Read(uint64_t, uint64_t, void*, uint32_t, uint32_t*) override { return kErrNotSupported; }
  err_t GetImageSize(uint64_t* size) override { return *size = chunks, kOk; }
  err_t CloseFiles() override { return kOk; }
  err_t GetVolumeInfo(uint64_t, uint64_t*, char16_t**) override { return kOk; }
  err_t GetAttributes(uint64_t, SeLookupResult*) override { return kErrNotSupported; }
};

// A record whose view logs what happens to it, and presses Skip at a chosen step.
class LoggingRecord final : public SeVerifyRecord {
 public:
  std::vector<std::string> log;
  bool view_opens = true;
  uint64_t skip_at = UINT64_MAX;

  bool OnProgress(uint64_t done, uint64_t total) override {
    if (done == skip_at) RequestStop();
    return SeVerifyRecord::OnProgress(done, total);
  }
  void OnFinished() override {
    log.push_back("finished");
    SeVerifyRecord::OnFinished();
  }
  bool OpenView() override {
    log.push_back("open");
    return view_opens;
  }
  void CloseView() override { log.push_back("close"); }
};

TEST(RunVerify, ViewOpenWhileTheVerifyRuns) {
  VerifyingVolume media;
  LoggingRecord progress;
  EXPECT_EQ(RunVerify(&media, &progress, true), kOk);
  EXPECT_EQ(media.steps, 8u);
  EXPECT_EQ(progress.log, (std::vector<std::string>{"open", "finished", "close"}));
}

TEST(RunVerify, SkipStopsTheVerifyEarly) {
  VerifyingVolume media;
  LoggingRecord progress;
  progress.skip_at = 2;
  EXPECT_EQ(RunVerify(&media, &progress, true), kOk);
  EXPECT_EQ(media.steps, 3u);
}

TEST(RunVerify, WithoutAViewOrAnObject) {
  VerifyingVolume media;
  media.result = kErrBadFormat;
  LoggingRecord progress;
  EXPECT_EQ(RunVerify(&media, &progress, false), kErrBadFormat);  // the runner's default
  EXPECT_EQ(progress.log, (std::vector<std::string>{"finished"}));
  progress.log.clear();
  progress.view_opens = false;  // a view that cannot open is not closed
  EXPECT_EQ(RunVerify(&media, &progress, true), kErrBadFormat);
  EXPECT_EQ(progress.log, (std::vector<std::string>{"open", "finished"}));
  EXPECT_EQ(RunVerify(&media, nullptr, true), kErrBadFormat);  // no memory for the object
  EXPECT_EQ(media.steps, 8u);
}

TEST(RunVerify, ShowProgressIsReservedAndOff) {
  uint32_t size = 0;
  EXPECT_NE(find_resource(u"option", u"show_progress", &size), nullptr);
  EXPECT_EQ(size, 64u);  // room for a tool to write a value in place
  kd_mp_c pool;
  RunnerOptions options;
  read_runner_options(&pool, &options);
  EXPECT_FALSE(options.show_progress);
}

// ---- The terminal line ---------------------------------------------------------------------

class Capture final : public UtOut {
 public:
  std::vector<std::u16string> writes;
  int write(const char16_t* text, bool line_end) override {
    writes.push_back(std::u16string(text) + (line_end ? u"\n" : u""));
    return 0;
  }
};

bool IsTerminal() { return true; }
bool IsNotTerminal() { return false; }

TEST(VerifyLine, DrawsByTheShowRuleAndClearsAtTheEnd) {
  Capture out;
  {
    SeVerifyLine line(&out, IsTerminal);
    ASSERT_TRUE(line.OpenView());
    line.SeVerifyRecord::OnProgress(25, 100);
    line.Draw(kSecond / 2);
    EXPECT_TRUE(out.writes.empty());
    line.Draw(kSecond + 5000000);
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0],
              u"\rVerifying Media [#######.......................]  25% "
              u"Elapsed time:  0:00:01.500\x1b[K");
    line.OnFinished();
    line.CloseView();
    line.CloseView();  // once only
  }
  ASSERT_EQ(out.writes.size(), 2u);
  EXPECT_EQ(out.writes[1], u"\r\x1b[K");
}

TEST(VerifyLine, NothingWithoutATerminal) {
  Capture out;
  {
    SeVerifyLine line(&out, IsNotTerminal);
    EXPECT_FALSE(line.OpenView());
    for (int i = 0; i < 3; ++i) line.OnProgress(uint64_t(i), 3);
    line.OnFinished();
  }
  EXPECT_TRUE(out.writes.empty());
}

TEST(VerifyLine, QuickVerifyLeavesTheScreenAlone) {
  Capture out;
  {
    SeVerifyLine line(&out, IsTerminal);
    ASSERT_TRUE(line.OpenView());
    for (uint64_t done = 0; done < 64; ++done) EXPECT_FALSE(line.OnProgress(done, 64));
    line.OnFinished();
  }
  EXPECT_TRUE(out.writes.empty());
}

}  // namespace
