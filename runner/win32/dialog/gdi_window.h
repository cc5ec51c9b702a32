// A thin object layer over Win32 windows and dialogs. GdiWindow turns window messages into
// virtual calls with decoded arguments; GdiDialog adds creation from a resource or from a
// template built in memory, the one dialog procedure that routes messages to the object through
// the window's DWLP_USER slot, and orderly ending.
//
// Every handler receives a not-handled flag as its last argument: leaving it clear consumes the
// message, setting it passes the message on to the dialog manager's defaults. The defaults here
// set it unless their comment says otherwise. The virtual operations keep a fixed slot order
// (noted on each), so the class declares no virtual destructor: slot 0 is an explicit one.
//
// All window calls happen on the thread that created the window. Windows only.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

class GdiWindow {
 public:
  // Bit of Destruct's flags: free the object's memory after destroying it.
  static constexpr uint32_t kFreeMemory = 1;

  HWND hwnd() const { return hwnd_; }

  // Slot 0: runs the destructor; with kFreeMemory also frees the object, which must then have
  // come from operator new. A class that adds state overrides it to destroy its own type.
  virtual void Destruct(uint32_t flags);
  // Slot 1: called once the window is gone (after WM_DESTROY). A plain window destroys and
  // frees itself here.
  virtual void ReleaseAfterDestroy();
  // Slot 2: decodes a message and calls its handler; messages without one are not handled.
  virtual LRESULT Dispatch(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled);
  // Slot 3: kept free for a subclass; returns 0.
  virtual LRESULT Hook(uintptr_t argument);
  // Slot 4: WM_INITDIALOG; the result is the dialog procedure's answer (1: default focus).
  virtual LRESULT OnInit();
  // Slot 5: WM_DESTROY, while the window still exists.
  virtual void OnDestroying();
  // Slot 6: a message that Dispatch left not handled.
  virtual LRESULT OnUnhandled(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled);
  // Slots 7 to 29, one per message (or group of messages).
  virtual LRESULT OnClose(bool* not_handled);
  virtual LRESULT OnGetMinMaxInfo(LPARAM info, bool* not_handled);
  virtual LRESULT OnSize(UINT type, int width, int height, bool* not_handled);
  virtual LRESULT OnMove(int x, int y, bool* not_handled);
  virtual LRESULT OnEraseBackground(HDC dc, bool* not_handled);  // returns false
  virtual LRESULT OnPaint(bool* not_handled);
  virtual LRESULT OnSetFocus(bool* not_handled);
  virtual LRESULT OnKillFocus(bool* not_handled);
  virtual LRESULT OnActivate(UINT state, bool* not_handled);
  virtual LRESULT OnHScroll(UINT code, bool* not_handled);
  virtual LRESULT OnVScroll(UINT code, bool* not_handled);
  // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP after key decoding; flags is the high
  // word of lParam (previous-state bit cleared on release).
  virtual LRESULT OnKey(UINT message, UINT key, UINT repeat, UINT flags, bool* not_handled);
  virtual LRESULT OnSysChar(UINT character, UINT repeat, bool* not_handled);
  virtual LRESULT OnChar(UINT character, UINT repeat, bool* not_handled);
  // Button down or double click (left, right, middle, extra); keys is wParam.
  virtual LRESULT OnButtonDown(UINT message, UINT keys, int x, int y, bool* not_handled);
  virtual LRESULT OnMouseMove(UINT keys, int x, int y, bool* not_handled);
  virtual LRESULT OnButtonUp(UINT message, UINT keys, int x, int y, bool* not_handled);
  virtual LRESULT OnMouseWheel(UINT keys, int delta, int x, int y, bool* not_handled);
  // WM_TIMER; always consumed. Does nothing.
  virtual void OnTimer(UINT_PTR id);
  // WM_COMMAND and WM_SYSCOMMAND: the command id (system commands without their four low bits,
  // which the system uses internally).
  virtual LRESULT OnCommand(UINT id, bool* not_handled);
  virtual LRESULT OnNotify(HWND from, UINT_PTR control_id, UINT code, NMHDR* header,
                           bool* not_handled);  // returns 0
  virtual LRESULT OnSetFont(HFONT font, BOOL redraw, bool* not_handled);
  virtual LRESULT OnGetDlgCode(bool* not_handled);  // returns 0

 protected:
  GdiWindow() = default;
  ~GdiWindow() = default;
  GdiWindow(const GdiWindow&) = delete;
  GdiWindow& operator=(const GdiWindow&) = delete;

  HWND hwnd_ = nullptr;  // null until the window exists

 private:
  LRESULT DispatchKey(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled);
};

class GdiDialog : public GdiWindow {
 public:
  // The private message SeProgressDialog and others may use: WM_USER + 100.
  static constexpr UINT kPrivateClose = WM_USER + 100;

  void Destruct(uint32_t flags) override;
  // The creator owns a dialog: nothing happens when its window goes.
  void ReleaseAfterDestroy() override;
  // Centres the window on its parent (or the desktop) and returns 1.
  LRESULT OnInit() override;
  // Ends the dialog with result IDCANCEL.
  LRESULT OnClose(bool* not_handled) override;
  // IDOK, IDCANCEL, IDYES and IDNO end the dialog with that id; others are not handled.
  LRESULT OnCommand(UINT id, bool* not_handled) override;

  // Slot 30: writes the in-memory template into `buffer` (capacity 0: measure only) and returns
  // its size in bytes; 0 means the dialog has no in-memory template.
  virtual size_t BuildTemplate(uint8_t* buffer, size_t capacity);
  // Slots 31 and 32: modeless creation from the in-memory template or a resource template.
  // False when the window exists already, creation fails, or the dialog ended while it
  // initialised (its window is then destroyed at once).
  virtual bool CreateModeless(HINSTANCE instance, HWND parent);
  virtual bool CreateModelessFromResource(HINSTANCE instance, UINT template_id, HWND parent);
  // Slots 33 and 34: a modal dialog box; true when it ran, with the code it ended with.
  virtual bool ShowModal(HINSTANCE instance, HWND parent, int32_t* result);
  virtual bool ShowModalFromResource(HINSTANCE instance, UINT template_id, HWND parent,
                                     int32_t* result);
  // Slot 35: builds the in-memory template once (measure, allocate, fill); true if one exists.
  virtual bool EnsureTemplate();
  // Slot 36.
  virtual void FreeTemplate();
  // Slot 37.
  virtual HWND GetControl(UINT id);
  // Slot 38: ends the dialog with `result`, once (later calls are ignored). Before the init
  // handler has finished it posts WM_CLOSE and the dialog procedure ends the window; after,
  // EndDialog for a modal dialog and DestroyWindow for a modeless one.
  virtual void End(int32_t result);

  bool ended() const { return ended_; }
  int32_t result() const { return result_; }
  const uint8_t* template_bytes() const { return template_; }

  // The procedure every GdiDialog window runs; the object is the creation parameter.
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 protected:
  GdiDialog() = default;
  // Frees the template; a window still attached is detached (and destroyed when this is its
  // thread), so it never calls into a dead object.
  ~GdiDialog();

  // Centres the window on its parent's client area: the parent window for a child window,
  // otherwise the desktop.
  void CenterOnParent();

  uint8_t* template_ = nullptr;
  bool modal_ = false;
  bool show_after_create_ = true;
  bool initialised_ = false;
  bool ended_ = false;
  int32_t result_ = 0;

 private:
  // A new window starts from a dialog that has not ended.
  bool PrepareCreate(bool modal);
  bool FinishModeless(HWND created);
};
