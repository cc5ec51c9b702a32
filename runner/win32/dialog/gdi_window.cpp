#include "runner/win32/dialog/gdi_window.h"

#include <new>

namespace {

// Key flags: the high word of a key message's lParam.
constexpr UINT kKeyFlagRepeat = 0x4000;  // the key was down before this message
constexpr UINT kKeyFlagUp = 0x8000;      // the key is being released

// The system uses the four low bits of a system command internally.
constexpr UINT kSysCommandMask = 0xFFF0;

int SignedLow(LPARAM value) { return int(int16_t(LOWORD(value))); }
int SignedHigh(LPARAM value) { return int(int16_t(HIWORD(value))); }

bool IsModifier(UINT key) { return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU; }

}  // namespace

// ---- GdiWindow -----------------------------------------------------------------------------

void GdiWindow::Destruct(uint32_t flags) {
  this->~GdiWindow();
  if (flags & kFreeMemory) ::operator delete(this);
}

void GdiWindow::ReleaseAfterDestroy() { Destruct(kFreeMemory); }

LRESULT GdiWindow::Dispatch(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled) {
  int x = SignedLow(lparam), y = SignedHigh(lparam);
  switch (message) {
    case WM_CLOSE: return OnClose(not_handled);
    case WM_GETMINMAXINFO: return OnGetMinMaxInfo(lparam, not_handled);
    case WM_SIZE: return OnSize(UINT(wparam), LOWORD(lparam), HIWORD(lparam), not_handled);
    case WM_MOVE: return OnMove(x, y, not_handled);
    case WM_ERASEBKGND: return OnEraseBackground(reinterpret_cast<HDC>(wparam), not_handled);
    case WM_PAINT: return OnPaint(not_handled);
    case WM_SETFOCUS: return OnSetFocus(not_handled);
    case WM_KILLFOCUS: return OnKillFocus(not_handled);
    case WM_ACTIVATE: return OnActivate(LOWORD(wparam), not_handled);
    case WM_HSCROLL: return OnHScroll(LOWORD(wparam), not_handled);
    case WM_VSCROLL: return OnVScroll(LOWORD(wparam), not_handled);
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: return DispatchKey(message, wparam, lparam, not_handled);
    case WM_SYSCHAR: return OnSysChar(UINT(wparam), LOWORD(lparam), not_handled);
    case WM_CHAR: return OnChar(UINT(wparam), LOWORD(lparam), not_handled);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK: return OnButtonDown(message, UINT(wparam), x, y, not_handled);
    case WM_MOUSEMOVE: return OnMouseMove(UINT(wparam), x, y, not_handled);
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP: return OnButtonUp(message, UINT(wparam), x, y, not_handled);
    case WM_MOUSEWHEEL:
      return OnMouseWheel(LOWORD(wparam), int16_t(HIWORD(wparam)), x, y, not_handled);
    case WM_TIMER: OnTimer(UINT_PTR(wparam)); return 0;
    case WM_COMMAND: return OnCommand(LOWORD(wparam), not_handled);
    case WM_SYSCOMMAND: return OnCommand(LOWORD(wparam) & kSysCommandMask, not_handled);
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lparam);
      if (!header) break;
      return OnNotify(header->hwndFrom, header->idFrom, header->code, header, not_handled);
    }
    case WM_SETFONT:
      return OnSetFont(reinterpret_cast<HFONT>(wparam), BOOL(LOWORD(lparam)), not_handled);
    case WM_GETDLGCODE: return OnGetDlgCode(not_handled);
  }
  *not_handled = true;
  return 0;
}

// Auto-repeats of Shift, Ctrl and Alt, and key 0, never reach OnKey. Releasing Alt when OnKey
// passes it on goes to the default window procedure between a made-up Shift press and release,
// so that Alt pressed and released alone does not open the window menu.
LRESULT GdiWindow::DispatchKey(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled) {
  UINT key = UINT(wparam);
  UINT flags = HIWORD(lparam);
  UINT repeat = LOWORD(lparam);
  if (flags & kKeyFlagUp) {
    flags &= ~kKeyFlagRepeat;
    repeat = 1;
  }
  if (key == 0) return 0;
  if (IsModifier(key)) {
    if (flags & kKeyFlagRepeat) return 0;
    repeat = 1;
  }
  LRESULT result = OnKey(message, key, repeat, flags, not_handled);
  if (!*not_handled || key != VK_MENU || !(flags & kKeyFlagUp)) return result;
  *not_handled = false;
  if (!hwnd_) return 0;
  DefWindowProcW(hwnd_, WM_SYSKEYDOWN, VK_SHIFT, 0x20000001);
  result = DefWindowProcW(hwnd_, message, VK_MENU, LPARAM((flags << 16) | repeat));
  DefWindowProcW(hwnd_, WM_SYSKEYUP, VK_SHIFT, LPARAM(0xE0000001u));
  return result;
}

LRESULT GdiWindow::Hook(uintptr_t) { return 0; }
LRESULT GdiWindow::OnInit() { return 1; }
void GdiWindow::OnDestroying() {}
void GdiWindow::OnTimer(UINT_PTR) {}

// The default of every message handler: pass the message on.
#define GDI_NOT_HANDLED  \
  {                      \
    *not_handled = true; \
    return 0;            \
  }
LRESULT GdiWindow::OnUnhandled(UINT, WPARAM, LPARAM, bool* not_handled)
    GDI_NOT_HANDLED LRESULT GdiWindow::OnClose(bool* not_handled) GDI_NOT_HANDLED LRESULT
    GdiWindow::OnGetMinMaxInfo(LPARAM, bool* not_handled) GDI_NOT_HANDLED LRESULT GdiWindow::OnSize(
        UINT, int, int,
        bool* not_handled) GDI_NOT_HANDLED LRESULT GdiWindow::OnMove(int, int, bool* not_handled)
        GDI_NOT_HANDLED LRESULT GdiWindow::OnEraseBackground(HDC, bool* not_handled)
            GDI_NOT_HANDLED LRESULT GdiWindow::OnPaint(bool* not_handled) GDI_NOT_HANDLED LRESULT
    GdiWindow::OnSetFocus(bool* not_handled) GDI_NOT_HANDLED LRESULT GdiWindow::OnKillFocus(
        bool* not_handled) GDI_NOT_HANDLED LRESULT GdiWindow::OnActivate(UINT, bool* not_handled)
        GDI_NOT_HANDLED LRESULT GdiWindow::OnHScroll(UINT, bool* not_handled)
            GDI_NOT_HANDLED LRESULT GdiWindow::OnVScroll(UINT, bool* not_handled)
                GDI_NOT_HANDLED LRESULT GdiWindow::OnKey(UINT, UINT, UINT, UINT, bool* not_handled)
                    GDI_NOT_HANDLED LRESULT GdiWindow::OnSysChar(UINT, UINT, bool* not_handled)
                        GDI_NOT_HANDLED LRESULT GdiWindow::OnChar(UINT, UINT,
                                                                  bool* not_handled) GDI_NOT_HANDLED
    LRESULT GdiWindow::OnButtonDown(UINT, UINT, int, int, bool* not_handled)
        GDI_NOT_HANDLED LRESULT GdiWindow::OnMouseMove(UINT, int, int, bool* not_handled)
            GDI_NOT_HANDLED LRESULT GdiWindow::OnButtonUp(UINT, UINT, int, int, bool* not_handled)
                GDI_NOT_HANDLED LRESULT GdiWindow::OnMouseWheel(UINT, int, int, int,
                                                                bool* not_handled) GDI_NOT_HANDLED
    LRESULT GdiWindow::OnCommand(UINT, bool* not_handled)
        GDI_NOT_HANDLED LRESULT GdiWindow::OnNotify(HWND, UINT_PTR, UINT, NMHDR*, bool* not_handled)
            GDI_NOT_HANDLED LRESULT GdiWindow::OnSetFont(HFONT, BOOL, bool* not_handled)
                GDI_NOT_HANDLED LRESULT GdiWindow::OnGetDlgCode(bool* not_handled) GDI_NOT_HANDLED
#undef GDI_NOT_HANDLED

    // ---- GdiDialog -----------------------------------------------------------------------------

    GdiDialog::~GdiDialog() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  FreeTemplate();
}

void GdiDialog::Destruct(uint32_t flags) {
  this->~GdiDialog();
  if (flags & kFreeMemory) ::operator delete(this);
}

void GdiDialog::ReleaseAfterDestroy() {}

LRESULT GdiDialog::OnInit() {
  CenterOnParent();
  return 1;
}

LRESULT GdiDialog::OnClose(bool*) {
  End(IDCANCEL);
  return 0;
}

LRESULT GdiDialog::OnCommand(UINT id, bool* not_handled) {
  if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO) {
    End(int32_t(id));
    return 0;
  }
  *not_handled = true;
  return 0;
}

size_t GdiDialog::BuildTemplate(uint8_t*, size_t) { return 0; }

bool GdiDialog::EnsureTemplate() {
  if (template_) return true;
  size_t size = BuildTemplate(nullptr, 0);
  if (size == 0) return false;
  auto* block = new (std::nothrow) uint8_t[size];
  if (!block) return false;
  if (BuildTemplate(block, size) != size) {
    delete[] block;
    return false;
  }
  template_ = block;
  return true;
}

void GdiDialog::FreeTemplate() {
  delete[] template_;
  template_ = nullptr;
}

HWND GdiDialog::GetControl(UINT id) { return hwnd_ ? GetDlgItem(hwnd_, int(id)) : nullptr; }

void GdiDialog::End(int32_t result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  if (!hwnd_) return;
  if (!initialised_)
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  else if (modal_)
    EndDialog(hwnd_, result);
  else
    DestroyWindow(hwnd_);
}

bool GdiDialog::PrepareCreate(bool modal) {
  if (hwnd_) return false;
  modal_ = modal;
  initialised_ = false;
  ended_ = false;
  result_ = 0;
  return true;
}

bool GdiDialog::FinishModeless(HWND created) {
  if (!created) return false;
  if (ended_) {
    // Ended from its init handler: the window is not wanted, and nobody may pump its WM_CLOSE.
    if (hwnd_) DestroyWindow(hwnd_);
    return false;
  }
  if (show_after_create_) ShowWindow(created, SW_SHOW);
  return true;
}

bool GdiDialog::CreateModeless(HINSTANCE instance, HWND parent) {
  if (!PrepareCreate(false) || !EnsureTemplate()) return false;
  return FinishModeless(
      CreateDialogIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(template_), parent,
                                 DialogProc, reinterpret_cast<LPARAM>(this)));
}

bool GdiDialog::CreateModelessFromResource(HINSTANCE instance, UINT template_id, HWND parent) {
  if (!PrepareCreate(false)) return false;
  return FinishModeless(CreateDialogParamW(instance, MAKEINTRESOURCEW(template_id), parent,
                                           DialogProc, reinterpret_cast<LPARAM>(this)));
}

bool GdiDialog::ShowModal(HINSTANCE instance, HWND parent, int32_t* result) {
  if (result) *result = 0;
  if (!PrepareCreate(true) || !EnsureTemplate()) return false;
  INT_PTR ran = DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(template_),
                                        parent, DialogProc, reinterpret_cast<LPARAM>(this));
  modal_ = false;
  if (ran == -1) return false;
  if (result) *result = result_;
  return true;
}

bool GdiDialog::ShowModalFromResource(HINSTANCE instance, UINT template_id, HWND parent,
                                      int32_t* result) {
  if (result) *result = 0;
  if (!PrepareCreate(true)) return false;
  INT_PTR ran = DialogBoxParamW(instance, MAKEINTRESOURCEW(template_id), parent, DialogProc,
                                reinterpret_cast<LPARAM>(this));
  modal_ = false;
  if (ran == -1) return false;
  if (result) *result = result_;
  return true;
}

void GdiDialog::CenterOnParent() {
  if (!hwnd_) return;
  bool child = (GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD) != 0;
  HWND parent = child ? GetParent(hwnd_) : GetDesktopWindow();
  RECT window, area;
  if (!parent || !GetWindowRect(hwnd_, &window) || !GetClientRect(parent, &area)) return;
  int x = area.left + (area.right - area.left - (window.right - window.left)) / 2;
  int y = area.top + (area.bottom - area.top - (window.bottom - window.top)) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK GdiDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* dialog = reinterpret_cast<GdiDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!dialog) {
    dialog = reinterpret_cast<GdiDialog*>(lparam);
    if (message != WM_INITDIALOG || !dialog) return FALSE;
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    dialog->hwnd_ = hwnd;
    INT_PTR answer = dialog->OnInit();
    dialog->initialised_ = true;
    return answer;
  }
  if (message == WM_DESTROY) {
    dialog->OnDestroying();
    dialog->hwnd_ = nullptr;
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    dialog->ReleaseAfterDestroy();
    return FALSE;
  }
  if (dialog->ended_) {
    if (message == WM_CLOSE) {
      if (dialog->modal_)
        EndDialog(hwnd, dialog->result_);
      else
        DestroyWindow(hwnd);
    }
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
    return TRUE;
  }
  bool not_handled = false;
  LRESULT result = dialog->Dispatch(message, wparam, lparam, &not_handled);
  if (not_handled) {
    not_handled = false;
    result = dialog->OnUnhandled(message, wparam, lparam, &not_handled);
  }
  if (not_handled) return FALSE;
  // The handler may have destroyed the window: then this store fails quietly.
  SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
