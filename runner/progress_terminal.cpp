#include "runner/progress_terminal.h"

#include "base/pool.h"
#include "runner/runner_text.h"
#include "usertext/user_text.h"
#include "usertext/ut_out.h"

SeProgressLine::SeProgressLine(UtOut* sink, bool (*is_terminal)())
    : sink_(sink), is_terminal_(is_terminal) {}

bool SeProgressLine::OpenView() {
  open_ = sink_ && is_terminal_ && is_terminal_();
  return open_;
}

bool SeProgressLine::OnProgress(uint64_t done, uint64_t total) {
  bool stop = SeProgressRecord::OnProgress(done, total);
  if (open_) {
    uint64_t now = monotonic_ms();
    if (last_draw_ms_ == 0 || now - last_draw_ms_ >= kProgressTickMs) {
      last_draw_ms_ = now;
      Draw(Elapsed());
    }
  }
  return stop;
}

void SeProgressLine::Draw(int64_t elapsed) {
  kd_mp_c pool;
  ProgressFrame frame = NextFrame(&pool, elapsed);
  if (!frame.visible) return;
  const char16_t* label = UserTextGet(&pool, ProgressStepTexts(frame.step).title);
  size_t length = ProgressLineRender(nullptr, 0, label, frame.position, frame.elapsed);
  auto* line = pool.AllocArray<char16_t>(length + 1);
  if (!line) return;
  ProgressLineRender(line, length + 1, label, frame.position, frame.elapsed);
  sink_->write(line, false);
  drawn_ = true;
}

void SeProgressLine::CloseView() {
  if (open_ && drawn_) sink_->write(kProgressLineClear16, false);
  open_ = false;
  drawn_ = false;
}
