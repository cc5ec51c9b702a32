// The runner's verify progress object: the SeVerifyProgress sink that the media's verify pass
// reports to, with its shared state (bytes done, bytes in total, the stop request) under a light
// lock, and what a progress view shows of it. The view itself is the platform's: the verify
// dialog window on Windows (runner/win32/dialog/verify_dialog.h), a one-line bar on a Linux
// terminal.
//
// The verify runs on one thread and the view may run on another; each side holds the lock only
// to copy the fields. A view decides by itself when to appear: not before one second, and for a
// verify that is half-way within its first second not before 2.25 seconds, so a quick verify
// shows nothing at all.
#pragma once
#include <cstdint>

#include "base/thread.h"
#include "isofs/se_volume.h"
#include "usertext/progress_line.h"

class malloc_i;

// Times in 100-nanosecond units.
inline constexpr int64_t kVerifyShowAfter = 10000000;   // one second
inline constexpr int64_t kVerifyShowAnyway = 22500000;  // 2.25 seconds
// The bar's range is 0 .. kVerifyBarRange (the terminal line's too).
inline constexpr uint32_t kVerifyBarRange = kProgressLineRange;
// How often a view redraws, in milliseconds.
inline constexpr uint32_t kVerifyTickMs = 100;

// Whether a view not shown yet should appear now.
bool VerifyViewDue(int64_t elapsed, uint64_t done, uint64_t total);
// done * 10000 / total, 0 for a total of 0 and the full range when done reaches or passes total.
uint32_t VerifyBarPosition(uint64_t done, uint64_t total);
// The `verify_elapsed_time` text, two blanks and the elapsed time as a duration, from the pool.
const char16_t* VerifyElapsedText(malloc_i* pool, int64_t elapsed);

// What a view shows at one tick.
struct VerifyFrame {
  bool show_now;            // the view appears with this frame
  bool visible;             // the view is (now) visible
  uint32_t position;        // 0 .. kVerifyBarRange
  const char16_t* elapsed;  // VerifyElapsedText
};

class SeVerifyRecord : public SeVerifyProgress {
 public:
  // Slot 0: stores the progress; true once a stop has been requested.
  bool OnProgress(uint64_t done, uint64_t total) override;
  // Slot 1: the verify is over, whatever its outcome. Marks the record finished.
  void OnFinished() override;
  // Slot 2: opens the view for a verify about to run on the calling thread; false when there is
  // none (the verify runs unseen all the same). The record shows nothing by itself.
  virtual bool OpenView();
  // Slot 3: after OnFinished, waits until the view has gone.
  virtual void CloseView();

  // Asks the verify to stop at its next OnProgress call (Skip, the close box).
  void RequestStop();
  // The verify also stops, as at Skip, once this pin is triggered (the runner's interrupt).
  void StopOn(pin_i* pin) { stop_pin_ = pin; }
  bool StopRequested();
  bool Finished();
  // The frame a view draws after `elapsed`; a view that has appeared stays visible.
  VerifyFrame NextFrame(malloc_i* pool, int64_t elapsed);
  // Time since the record was made, in 100-ns units, from the monotonic clock (a change of the
  // wall clock during the verify does not disturb it).
  int64_t Elapsed() const;
  // The wall-clock time when the record was made.
  int64_t start_time() const { return start_time_; }

 protected:
  SeVerifyRecord();
  ~SeVerifyRecord() = default;
  SeVerifyRecord(const SeVerifyRecord&) = delete;
  SeVerifyRecord& operator=(const SeVerifyRecord&) = delete;

  light_lock_t lock_;  // guards the four fields below
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  bool stop_requested_ = false;
  bool finished_ = false;

 private:
  pin_i* stop_pin_ = nullptr;
  bool shown_ = false;  // the view's own: only the view's thread touches it
  int64_t start_time_;
  uint64_t start_ms_;
};

// The runner's verify step: the media's whole-image verify reporting to `progress` (null: none),
// with the progress view open meanwhile when `show` is set, so that Skip can stop it early.
// OnFinished follows whatever the outcome, and the view has gone when this returns. Returns the
// verify's result (0 also for a verify stopped early whose blocks so far were sound).
err_t RunVerify(SeVolume* media, SeVerifyRecord* progress, bool show);

// The runner's progress object on this platform (runner/<platform>/verify_view.cpp): the verify
// dialog on Windows, the terminal line on Linux. Null when memory runs out.
SeVerifyRecord* CreateVerifyProgress();
// Closes its view and frees it; null is ignored.
void DestroyVerifyProgress(SeVerifyRecord* progress);
