// The run's progress shown as one line on a terminal: the runner's view on Linux, where the
// progress dialog has no twin. The line, labelled with the step's title, appears by the same
// rule as the dialog (not before one second into a step, later for a quick one), is redrawn at
// most every 100 ms from the steps' own progress calls, and is cleared when the view closes,
// before the program starts.
#pragma once
#include "runner/run_progress.h"
#include "usertext/progress_line.h"

class UtOut;

class SeProgressLine final : public SeProgressRecord {
 public:
  // `sink` receives the line (standard error in the runner) when `is_terminal` says the line
  // has a terminal to go to.
  explicit SeProgressLine(UtOut* sink, bool (*is_terminal)() = UtStderrIsTerminal);
  // Takes the line off the screen if it is there.
  ~SeProgressLine() { CloseView(); }

  bool OnProgress(uint64_t done, uint64_t total) override;
  bool OpenView() override;
  void CloseView() override;

  // Draws the frame for `elapsed` if the line is due; called by OnProgress with the time since
  // the record was made.
  void Draw(int64_t elapsed);

 private:
  UtOut* sink_;
  bool open_ = false;
  bool (*is_terminal_)();
  bool drawn_ = false;         // something is on the screen
  uint64_t last_draw_ms_ = 0;  // monotonic time of the last draw
};
