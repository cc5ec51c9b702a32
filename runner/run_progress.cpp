#include "runner/run_progress.h"

#include "base/format.h"
#include "base/pool.h"
#include "runner/runner_text.h"
#include "usertext/locale.h"
#include "usertext/user_text.h"

namespace {
constexpr int64_t kTicksPerMillisecond = 10000;
}

ProgressTexts ProgressStepTexts(ProgressStep step) {
  if (step == ProgressStep::kExtract)
    return {kUtExtractTitle, kUtExtractText, kUtExtractCancelButton};
  return {kUtVerifyTitle, kUtVerifyText, kUtVerifySkipButton};
}

bool ProgressViewDue(int64_t elapsed, uint64_t done, uint64_t total) {
  if (elapsed <= kProgressShowAfter) return false;
  return elapsed > kProgressShowAnyway || total == 0 || done < total / 2;
}

uint32_t ProgressBarPosition(uint64_t done, uint64_t total) {
  return ProgressLinePosition(done, total);
}

const char16_t* ProgressElapsedText(malloc_i* pool, int64_t elapsed) {
  kd_mp_c scratch;
  const char16_t* text =
      TextFormatPool(pool, u"%s  %s", UserTextGet(&scratch, kUtVerifyElapsedTime),
                     FormatElapsedTime(&scratch, elapsed));
  return text ? text : kUserTextError;
}

SeProgressRecord::SeProgressRecord() : start_time_(system_time_now()), start_ms_(monotonic_ms()) {}

bool SeProgressRecord::OnProgress(uint64_t done, uint64_t total) {
  light_guard_c guard(lock_);
  done_ = done;
  total_ = total;
  return stop_requested_ || (stop_pin_ && stop_pin_->triggered());
}

void SeProgressRecord::OnFinished() {
  light_guard_c guard(lock_);
  finished_ = true;
}

bool SeProgressRecord::OpenView() { return false; }
void SeProgressRecord::CloseView() {}

void SeProgressRecord::BeginStep(ProgressStep step, uint64_t total) {
  int64_t now = Elapsed();
  light_guard_c guard(lock_);
  if (begun_ && step != step_) step_start_ = now;
  begun_ = true;
  step_ = step;
  done_ = 0;
  total_ = step_total_ = total;
}

void SeProgressRecord::OnWritten(void* record, uint64_t bytes) {
  auto* self = static_cast<SeProgressRecord*>(record);
  self->OnProgress(bytes, self->step_total_);
}

void SeProgressRecord::RequestStop(ProgressStep seen) {
  {
    light_guard_c guard(lock_);
    stop_requested_ = true;
  }
  // Outside the lock: the pin runs its callbacks, and OnProgress reads the pin under it.
  if (seen == ProgressStep::kExtract && stop_pin_) stop_pin_->trigger();
}

bool SeProgressRecord::StopRequested() {
  light_guard_c guard(lock_);
  return stop_requested_;
}

bool SeProgressRecord::Finished() {
  light_guard_c guard(lock_);
  return finished_;
}

int64_t SeProgressRecord::Elapsed() const {
  return int64_t(monotonic_ms() - start_ms_) * kTicksPerMillisecond;
}

ProgressFrame SeProgressRecord::NextFrame(malloc_i* pool, int64_t elapsed) {
  uint64_t done, total;
  int64_t step_start;
  ProgressFrame frame{};
  {
    light_guard_c guard(lock_);
    done = done_;
    total = total_;
    step_start = step_start_;
    frame.step = step_;
  }
  frame.show_now = !shown_ && ProgressViewDue(elapsed - step_start, done, total);
  shown_ = shown_ || frame.show_now;
  frame.visible = shown_;
  frame.position = ProgressBarPosition(done, total);
  frame.elapsed = ProgressElapsedText(pool, elapsed);
  return frame;
}

err_t RunVerify(SeVolume* media, SeProgressRecord* progress) {
  if (progress) progress->BeginStep(ProgressStep::kVerify, 0);
  return media->Verify(progress);
}
