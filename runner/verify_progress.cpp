#include "runner/verify_progress.h"

#include "base/format.h"
#include "base/pool.h"
#include "runner/runner_text.h"
#include "usertext/locale.h"
#include "usertext/user_text.h"

namespace {
constexpr int64_t kTicksPerMillisecond = 10000;
}

bool VerifyViewDue(int64_t elapsed, uint64_t done, uint64_t total) {
  if (elapsed <= kVerifyShowAfter) return false;
  return elapsed > kVerifyShowAnyway || total == 0 || done < total / 2;
}

uint32_t VerifyBarPosition(uint64_t done, uint64_t total) {
  return ProgressLinePosition(done, total);
}

const char16_t* VerifyElapsedText(malloc_i* pool, int64_t elapsed) {
  kd_mp_c scratch;
  const char16_t* text =
      TextFormatPool(pool, u"%s  %s", UserTextGet(&scratch, kUtVerifyElapsedTime),
                     FormatElapsedTime(&scratch, elapsed));
  return text ? text : kUserTextError;
}

SeVerifyRecord::SeVerifyRecord() : start_time_(system_time_now()), start_ms_(monotonic_ms()) {}

bool SeVerifyRecord::OnProgress(uint64_t done, uint64_t total) {
  light_guard_c guard(lock_);
  done_ = done;
  total_ = total;
  return stop_requested_ || (stop_pin_ && stop_pin_->triggered());
}

void SeVerifyRecord::OnFinished() {
  light_guard_c guard(lock_);
  finished_ = true;
}

bool SeVerifyRecord::OpenView() { return false; }
void SeVerifyRecord::CloseView() {}

void SeVerifyRecord::RequestStop() {
  light_guard_c guard(lock_);
  stop_requested_ = true;
}

bool SeVerifyRecord::StopRequested() {
  light_guard_c guard(lock_);
  return stop_requested_;
}

bool SeVerifyRecord::Finished() {
  light_guard_c guard(lock_);
  return finished_;
}

int64_t SeVerifyRecord::Elapsed() const {
  return int64_t(monotonic_ms() - start_ms_) * kTicksPerMillisecond;
}

VerifyFrame SeVerifyRecord::NextFrame(malloc_i* pool, int64_t elapsed) {
  uint64_t done, total;
  {
    light_guard_c guard(lock_);
    done = done_;
    total = total_;
  }
  VerifyFrame frame{};
  frame.show_now = !shown_ && VerifyViewDue(elapsed, done, total);
  shown_ = shown_ || frame.show_now;
  frame.visible = shown_;
  frame.position = VerifyBarPosition(done, total);
  frame.elapsed = VerifyElapsedText(pool, elapsed);
  return frame;
}

err_t RunVerify(SeVolume* media, SeVerifyRecord* progress, bool show) {
  bool view = show && progress && progress->OpenView();
  err_t e = media->Verify(progress);
  if (progress) progress->OnFinished();
  if (view) progress->CloseView();
  return e;
}
