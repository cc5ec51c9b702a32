// The runner's progress object: what the steps before the program (the verify, then the
// extraction) report to, with its shared state (the step, bytes done, bytes in total, the stop
// request) under a light lock, and what a progress view shows of it. The view itself is the
// platform's: the progress dialog window on Windows (runner/win32/dialog/progress_dialog.h), a
// one-line bar on a Linux terminal. One view serves both steps: opened before the first, it
// changes its texts with the step and goes before the program starts.
//
// The steps run on one thread and the view may run on another; each side holds the lock only
// to copy the fields. A view decides by itself when to appear: not before one second into a
// step, and for a step that is half-way within its first second not before 2.25 seconds, so a
// quick verify or a small extraction shows nothing at all.
//
// The extraction's bar is the bytes written against the image's size: the total the files will
// come to is not known without walking every directory first, and the image holds little else
// besides them, so the bar ends short of full by about the size of the image's directories.
#pragma once
#include <cstdint>

#include "base/thread.h"
#include "isofs/se_volume.h"
#include "usertext/progress_line.h"

class malloc_i;

// Times in 100-nanosecond units.
inline constexpr int64_t kProgressShowAfter = 10000000;   // one second
inline constexpr int64_t kProgressShowAnyway = 22500000;  // 2.25 seconds
// The bar's range is 0 .. kProgressBarRange (the terminal line's too).
inline constexpr uint32_t kProgressBarRange = kProgressLineRange;
// How often a view redraws, in milliseconds.
inline constexpr uint32_t kProgressTickMs = 100;

// Whether a view not shown yet should appear now.
bool ProgressViewDue(int64_t elapsed, uint64_t done, uint64_t total);
// done * 10000 / total, 0 for a total of 0 and the full range when done reaches or passes total.
uint32_t ProgressBarPosition(uint64_t done, uint64_t total);
// The `verify_elapsed_time` text, two blanks and the elapsed time as a duration, from the pool.
const char16_t* ProgressElapsedText(malloc_i* pool, int64_t elapsed);

// The steps a view shows: each has its own title, text and button.
enum class ProgressStep : uint8_t {
  kVerify,   // Skip stops the verify, and the run goes on
  kExtract,  // Cancel stops the run, as Ctrl-C does
};

// A step's user-text handles (runner_text.h), for UserTextGet: the window's title and the
// terminal line's label, the sentence under the title, and the button.
struct ProgressTexts {
  const char16_t* title;
  const char16_t* text;
  const char16_t* button;
};
ProgressTexts ProgressStepTexts(ProgressStep step);

// What a view shows at one tick.
struct ProgressFrame {
  ProgressStep step;        // the step under way
  bool show_now;            // the view appears with this frame
  bool visible;             // the view is (now) visible
  uint32_t position;        // 0 .. kProgressBarRange
  const char16_t* elapsed;  // ProgressElapsedText
};

class SeProgressRecord : public SeVerifyProgress {
 public:
  // Slot 0: stores the progress; true once a stop has been requested.
  bool OnProgress(uint64_t done, uint64_t total) override;
  // Slot 1: every step is over, whatever its outcome. Marks the record finished.
  void OnFinished() override;
  // Slot 2: opens the view for steps about to run on the calling thread; false when there is
  // none (the steps run unseen all the same). The record shows nothing by itself.
  virtual bool OpenView();
  // Slot 3: after OnFinished, waits until the view has gone.
  virtual void CloseView();

  // Starts a step on the working thread: its texts and its bar from 0 of `total`. The show
  // rule's clock counts for the first step from the record's making (the runner's start), for
  // a later one from its beginning; beginning the same step again keeps it.
  void BeginStep(ProgressStep step, uint64_t total);
  // The extraction's progress call (ExtractOptions::progress): `bytes` of the step's total.
  static void OnWritten(void* record, uint64_t bytes);
  // Skip, Cancel, Esc or the close box, pressed while the view showed the step `seen`: asks
  // the verify to stop at its next OnProgress call, and after Cancel also triggers the stop
  // pin, as Ctrl-C does. (A Skip that reaches the record after the extraction has begun
  // cancels nothing: the user did not ask for that.)
  void RequestStop(ProgressStep seen);
  // The verify also stops, as at Skip, once this pin is triggered (the runner's interrupt).
  void StopOn(pin_i* pin) { stop_pin_ = pin; }
  bool StopRequested();
  bool Finished();
  // The frame a view draws after `elapsed`; a view that has appeared stays visible.
  ProgressFrame NextFrame(malloc_i* pool, int64_t elapsed);
  // Time since the record was made, in 100-ns units, from the monotonic clock (a change of the
  // wall clock during the verify does not disturb it).
  int64_t Elapsed() const;
  // The wall-clock time when the record was made.
  int64_t start_time() const { return start_time_; }

 protected:
  SeProgressRecord();
  ~SeProgressRecord() = default;
  SeProgressRecord(const SeProgressRecord&) = delete;
  SeProgressRecord& operator=(const SeProgressRecord&) = delete;

  light_lock_t lock_;  // guards the six fields below
  ProgressStep step_ = ProgressStep::kVerify;
  int64_t step_start_ = 0;  // Elapsed() when the step began
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  bool stop_requested_ = false;
  bool finished_ = false;

 private:
  pin_i* stop_pin_ = nullptr;
  uint64_t step_total_ = 0;  // the working thread's own copy of total_
  bool begun_ = false;       // the working thread's own: a step has begun
  bool shown_ = false;       // the view's own: only the view's thread touches it
  int64_t start_time_;
  uint64_t start_ms_;
};

// The runner's verify step: the media's whole-image verify reporting to `progress` (null: none),
// whose view, when open, lets Skip stop it early. Returns the verify's result (0 also for a
// verify stopped early whose blocks so far were sound).
err_t RunVerify(SeVolume* media, SeProgressRecord* progress);

// The runner's progress object on this platform (runner/<platform>/progress_view.cpp): the
// progress dialog on Windows, the terminal line on Linux. Null when memory runs out.
SeProgressRecord* CreateProgressView();
// Closes its view and frees it; null is ignored.
void DestroyProgressView(SeProgressRecord* progress);
