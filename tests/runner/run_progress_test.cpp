// The run's progress record: the show rule, the bar, the elapsed-time text, the steps, the
// lock-guarded fields under two threads, and the terminal line that Linux shows instead of a
// window.
#include "runner/run_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/pool.h"
#include "runner/resources.h"
#include "runner/runner.h"
#include "runner/progress_terminal.h"
#include "support/vtable_slot.h"
#include "usertext/ut_out.h"

namespace {

using testing_support::VtableSlot;

constexpr int64_t kSecond = 10000000;

class Record final : public SeProgressRecord {};

TEST(VerifyProgress, SlotOrder) {
  EXPECT_EQ(VtableSlot(&SeVerifyProgress::OnProgress), 0u);
  EXPECT_EQ(VtableSlot(&SeVerifyProgress::OnFinished), 1u);
  EXPECT_EQ(VtableSlot(&SeProgressRecord::OnProgress), 0u);
  EXPECT_EQ(VtableSlot(&SeProgressRecord::OnFinished), 1u);
  EXPECT_EQ(VtableSlot(&SeProgressRecord::OpenView), 2u);
  EXPECT_EQ(VtableSlot(&SeProgressRecord::CloseView), 3u);
}

TEST(VerifyProgress, ShowRule) {
  // Never within the first second.
  EXPECT_FALSE(ProgressViewDue(kSecond, 0, 100));
  EXPECT_FALSE(ProgressViewDue(-5 * kSecond, 0, 0));
  // After it: when not yet half-way, or the total is unknown.
  EXPECT_TRUE(ProgressViewDue(kSecond + 1, 49, 100));
  EXPECT_TRUE(ProgressViewDue(kSecond + 1, 0, 0));
  // Half-way already: only after 2.25 seconds.
  EXPECT_FALSE(ProgressViewDue(kSecond + 1, 50, 100));
  EXPECT_FALSE(ProgressViewDue(22500000, 100, 100));
  EXPECT_TRUE(ProgressViewDue(22500001, 100, 100));
  EXPECT_TRUE(ProgressViewDue(22500001, 500, 100));  // done above total
}

TEST(VerifyProgress, BarPosition) {
  EXPECT_EQ(ProgressBarPosition(7, 0), 0u);  // an unknown total: an empty bar
  EXPECT_EQ(ProgressBarPosition(6144000, 6144000 * 4), 2500u);
  EXPECT_EQ(ProgressBarPosition(9, 3), 10000u);
}

TEST(VerifyProgress, ElapsedText) {
  kd_mp_c pool;
  int64_t duration = ((1 * 3600 + 2 * 60 + 3) * 1000 + 4) * 10000LL;
  EXPECT_EQ(std::u16string(ProgressElapsedText(&pool, duration)), u"Elapsed time:  1:02:03.004");
  EXPECT_EQ(std::u16string(ProgressElapsedText(&pool, 0)), u"Elapsed time:  0:00:00.000");
}

TEST(VerifyProgress, FramesShowOnceAndStayVisible) {
  Record r;
  kd_mp_c pool;
  r.OnProgress(0, 0);  // an unknown total: shown after one second with an empty bar
  ProgressFrame f = r.NextFrame(&pool, kSecond / 2);
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
  r.RequestStop(ProgressStep::kVerify);
  r.RequestStop(ProgressStep::kVerify);  // Skip pressed twice
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

// Each step starts its bar and the show rule's clock again; Cancel, unlike Skip, triggers the
// stop pin, and only when the user saw the extraction's button.
TEST(VerifyProgress, StepsAndCancel) {
  Record r;
  kdsync_pin_c interrupt;
  r.StopOn(&interrupt);
  kd_mp_c pool;
  r.BeginStep(ProgressStep::kVerify, 0);
  r.OnProgress(90, 100);
  EXPECT_EQ(r.NextFrame(&pool, 0).step, ProgressStep::kVerify);
  r.RequestStop(ProgressStep::kVerify);
  EXPECT_FALSE(interrupt.triggered());
  int64_t begun = r.Elapsed();
  r.BeginStep(ProgressStep::kExtract, 400);
  SeProgressRecord::OnWritten(&r, 100);
  ProgressFrame f = r.NextFrame(&pool, begun + kSecond / 2);
  EXPECT_EQ(f.step, ProgressStep::kExtract);
  EXPECT_EQ(f.position, 2500u);
  EXPECT_FALSE(f.visible);  // half a second into the step, whatever went before
  EXPECT_TRUE(r.NextFrame(&pool, begun + 2 * kSecond).show_now);
  r.RequestStop(ProgressStep::kVerify);  // a late Skip cancels nothing
  EXPECT_FALSE(interrupt.triggered());
  r.RequestStop(ProgressStep::kExtract);
  EXPECT_TRUE(interrupt.triggered());
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
    ProgressFrame f = r.NextFrame(&pool, 3 * kSecond);
    ASSERT_LE(f.position, 5000u);  // done is always below half of total here
    if (i == 1000) r.RequestStop(ProgressStep::kVerify);
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

// A record that presses Skip at a chosen step.
class SkippingRecord final : public SeProgressRecord {
 public:
  uint64_t skip_at = UINT64_MAX;

  bool OnProgress(uint64_t done, uint64_t total) override {
    if (done == skip_at) RequestStop(ProgressStep::kVerify);
    return SeProgressRecord::OnProgress(done, total);
  }
};

TEST(RunVerify, SkipStopsTheVerifyEarly) {
  VerifyingVolume media;
  SkippingRecord progress;
  progress.skip_at = 2;
  EXPECT_EQ(RunVerify(&media, &progress), kOk);
  EXPECT_EQ(media.steps, 3u);
}

TEST(RunVerify, WithoutAnObject) {
  VerifyingVolume media;
  media.result = kErrBadFormat;
  EXPECT_EQ(RunVerify(&media, nullptr), kErrBadFormat);  // no memory for the object
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
    SeProgressLine line(&out, IsTerminal);
    ASSERT_TRUE(line.OpenView());
    line.SeProgressRecord::OnProgress(25, 100);
    line.Draw(kSecond / 2);
    EXPECT_TRUE(out.writes.empty());
    line.Draw(kSecond + 5000000);
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0],
              u"\rVerifying Media [#######.......................]  25% "
              u"Elapsed time:  0:00:01.500\x1b[K");
    line.BeginStep(ProgressStep::kExtract, 100);
    line.SeProgressRecord::OnProgress(50, 100);
    line.Draw(kSecond + 6000000);  // the line, once shown, stays through the next step
    ASSERT_EQ(out.writes.size(), 2u);
    EXPECT_EQ(out.writes[1].substr(0, 49), u"\rPreparing Setup [###############...............]");
    line.OnFinished();
    line.CloseView();
    line.CloseView();  // once only
  }
  ASSERT_EQ(out.writes.size(), 3u);
  EXPECT_EQ(out.writes[2], u"\r\x1b[K");
}

TEST(VerifyLine, NothingWithoutATerminal) {
  Capture out;
  {
    SeProgressLine line(&out, IsNotTerminal);
    EXPECT_FALSE(line.OpenView());
    for (int i = 0; i < 3; ++i) line.OnProgress(uint64_t(i), 3);
    line.OnFinished();
  }
  EXPECT_TRUE(out.writes.empty());
}

TEST(VerifyLine, QuickVerifyLeavesTheScreenAlone) {
  Capture out;
  {
    SeProgressLine line(&out, IsTerminal);
    ASSERT_TRUE(line.OpenView());
    for (uint64_t done = 0; done < 64; ++done) EXPECT_FALSE(line.OnProgress(done, 64));
    line.OnFinished();
  }
  EXPECT_TRUE(out.writes.empty());
}

}  // namespace
