// The progress dialog: the runner's progress object on Windows, with a small window (the step's
// title and sentence, bar, elapsed time, and Skip or Cancel) built from an in-memory template.
//
// OpenView runs the window on a thread of its own, with its message loop, while the verify and
// the extraction run on the caller's thread. The window starts hidden and shows itself when the
// progress record's rule says so; its texts follow the step. The button, Esc and the close box
// only ask to stop (the verify skips, the extraction is cancelled as by Ctrl-C); the window goes
// when every step is over (OnFinished posts the private close message, whichever of the two
// happens first). CloseView waits for the window's thread to end.
#pragma once
#include "runner/win32/dialog/gdi_window.h"
#include "runner/run_progress.h"

class SeProgressDialog final : public SeProgressRecord, public GdiDialog {
 public:
  // The window class the template names; RegisterWindowClass makes it a dialog class.
  static constexpr char16_t kClassName[] = u"KdsmxSetupProgressDialog";
  static constexpr UINT_PTR kTimerId = 100;
  static constexpr UINT kProgressId = 100;
  static constexpr UINT kElapsedId = 101;
  static constexpr UINT kTextId = 102;
  static constexpr UINT kButtonId = IDCANCEL;  // Skip or Cancel

  SeProgressDialog() = default;
  // Closes the view first, if it is open.
  ~SeProgressDialog();

  // Registers the window class for `instance`, loading the progress bar's common control from
  // the system directory first; true once it is registered, also when it was already.
  static bool RegisterWindowClass(HINSTANCE instance);

  // SeProgressRecord.
  void OnFinished() override;
  bool OpenView() override;
  void CloseView() override;

  // GdiDialog.
  void Destruct(uint32_t flags) override;
  LRESULT OnInit() override;
  void OnDestroying() override;
  LRESULT OnUnhandled(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled) override;
  LRESULT OnClose(bool* not_handled) override;
  void OnTimer(UINT_PTR id) override;
  LRESULT OnCommand(UINT id, bool* not_handled) override;
  size_t BuildTemplate(uint8_t* buffer, size_t capacity) override;

  // Runs the dialog modeless on the calling thread until its window is gone (the body of the
  // view's thread). False when the window could not be created.
  bool RunWindow(HINSTANCE instance);

 private:
  // Posts the private close message when the window exists, under the lock.
  void FinishLocked();
  void ShowTexts(ProgressStep step);

  HWND window_ = nullptr;    // under lock_: the window other threads may post to
  HANDLE thread_ = nullptr;  // the view's thread, while open
  ProgressStep shown_step_ = ProgressStep::kVerify;  // the view's thread's own
};
