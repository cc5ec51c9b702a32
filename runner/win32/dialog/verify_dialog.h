// The verify progress dialog: the runner's verify progress object on Windows, with a small
// window (bar, elapsed time, Skip button) built from an in-memory template.
//
// OpenView runs the window on a thread of its own, with its message loop, while the verify runs
// on the caller's thread. The window starts hidden and shows itself when the progress record's
// rule says so. Skip, Esc and the close box only ask the verify to stop; the window goes when
// the verify has finished (OnFinished posts the private close message, whichever of the two
// happens first). CloseView waits for the window's thread to end.
#pragma once
#include "runner/win32/dialog/gdi_window.h"
#include "runner/verify_progress.h"

class SeVerifyDialog final : public SeVerifyRecord, public GdiDialog {
 public:
  // The window class the template names; RegisterWindowClass makes it a dialog class.
  static constexpr char16_t kClassName[] = u"KdsmxVerifyProgressDialog";
  static constexpr UINT_PTR kTimerId = 100;
  static constexpr UINT kProgressId = 100;
  static constexpr UINT kElapsedId = 101;
  static constexpr UINT kSkipId = IDCANCEL;

  SeVerifyDialog() = default;
  // Closes the view first, if it is open.
  ~SeVerifyDialog();

  // Registers the window class for `instance`, loading the progress bar's common control from
  // the system directory first; true once it is registered, also when it was already.
  static bool RegisterWindowClass(HINSTANCE instance);

  // SeVerifyRecord.
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

  HWND window_ = nullptr;    // under lock_: the window other threads may post to
  HANDLE thread_ = nullptr;  // the view's thread, while open
};
