#include "runner/win32/dialog/progress_dialog.h"

#include <commctrl.h>

#include "base/pool.h"
#include "runner/dialog_template.h"
#include "runner/runner_text.h"
#include "usertext/user_text.h"

namespace {

// The template, in dialog units.
constexpr uint32_t kDialogStyle = 0x80CA0080;   // popup, caption, system menu, minimise box,
                                                // modal frame
constexpr uint32_t kBarStyle = 0x50800001;      // child, visible, border, smooth
constexpr uint32_t kControlStyle = 0x50010000;  // child, visible, tab stop
constexpr uint32_t kTextStyle = 0x50000000;     // child, visible

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The progress bar's common controls library is loaded when the dialog is first needed, from
// the system directory: a static import would be resolved at start, before the runner restricts
// where DLLs may come from (a setup's folder is often a download folder).
bool LoadProgressControl() {
  HMODULE library = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) return false;
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  return init && init(&controls);
}

DWORD WINAPI ViewThread(void* argument) {
  static_cast<SeProgressDialog*>(argument)->RunWindow(GetModuleHandleW(nullptr));
  return 0;
}

}  // namespace

SeProgressDialog::~SeProgressDialog() { CloseView(); }

void SeProgressDialog::Destruct(uint32_t flags) {
  this->~SeProgressDialog();
  if (flags & kFreeMemory) ::operator delete(this);
}

bool SeProgressDialog::RegisterWindowClass(HINSTANCE instance) {
  if (!LoadProgressControl()) return false;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefDlgProcW;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = Wide(kClassName);
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Built on the view's thread, with the texts of the step under way then.
size_t SeProgressDialog::BuildTemplate(uint8_t* buffer, size_t capacity) {
  {
    light_guard_c guard(lock_);
    shown_step_ = step_;
  }
  ProgressTexts texts = ProgressStepTexts(shown_step_);
  kd_mp_c pool;
  size_t length = 0;
  GdiTemplateHeader(buffer, capacity, &length, kClassName, UserTextGet(&pool, texts.title), nullptr,
                    225, 62, kDialogStyle);
  GdiTemplateItem(buffer, capacity, &length, u"Static", UserTextGet(&pool, texts.text), kTextId, 4,
                  4, 217, 18, kTextStyle, 0);
  GdiTemplateItem(buffer, capacity, &length, u"msctls_progress32", u"", kProgressId, 4, 26, 217, 14,
                  kBarStyle, 0);
  GdiTemplateItem(buffer, capacity, &length, u"Static", u"", kElapsedId, 4, 44, 153, 12,
                  kControlStyle, 0);
  GdiTemplateItem(buffer, capacity, &length, u"Button", UserTextGet(&pool, texts.button), kButtonId,
                  161, 44, 60, 14, kControlStyle, 0);
  return length;
}

// Puts the texts of `step` in place of the ones shown.
void SeProgressDialog::ShowTexts(ProgressStep step) {
  shown_step_ = step;
  ProgressTexts texts = ProgressStepTexts(step);
  kd_mp_c pool;
  SetWindowTextW(hwnd_, Wide(UserTextGet(&pool, texts.title)));
  SetDlgItemTextW(hwnd_, kTextId, Wide(UserTextGet(&pool, texts.text)));
  SetDlgItemTextW(hwnd_, kButtonId, Wide(UserTextGet(&pool, texts.button)));
}

// The window starts hidden and keeps its template position; the timer decides when it shows.
LRESULT SeProgressDialog::OnInit() {
  show_after_create_ = false;
  SetTimer(hwnd_, kTimerId, kProgressTickMs, nullptr);
  SendDlgItemMessageW(hwnd_, kProgressId, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressBarRange));
  light_guard_c guard(lock_);
  window_ = hwnd_;
  // The verify may have finished before the window existed.
  if (finished_) FinishLocked();
  return 0;
}

void SeProgressDialog::OnDestroying() {
  KillTimer(hwnd_, kTimerId);
  light_guard_c guard(lock_);
  window_ = nullptr;
}

LRESULT SeProgressDialog::OnUnhandled(UINT message, WPARAM, LPARAM, bool* not_handled) {
  if (message != kPrivateClose) {
    *not_handled = true;
    return 0;
  }
  DestroyWindow(hwnd_);
  return 0;
}

// Skip or Cancel, Esc and the close box: the window stays until the steps are over.
LRESULT SeProgressDialog::OnClose(bool*) {
  RequestStop(shown_step_);
  return 0;
}

LRESULT SeProgressDialog::OnCommand(UINT id, bool* not_handled) {
  if (id != kButtonId && id != SC_CLOSE) {
    *not_handled = true;
    return 0;
  }
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  return 0;
}

void SeProgressDialog::OnTimer(UINT_PTR id) {
  if (id != kTimerId) return;
  kd_mp_c pool;
  ProgressFrame frame = NextFrame(&pool, Elapsed());
  if (frame.step != shown_step_) ShowTexts(frame.step);
  if (frame.show_now) ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetDlgItemTextW(hwnd_, kElapsedId, Wide(frame.elapsed));
  SendDlgItemMessageW(hwnd_, kProgressId, PBM_SETPOS, frame.position, 0);
}

void SeProgressDialog::FinishLocked() {
  finished_ = true;
  if (window_) PostMessageW(window_, kPrivateClose, 0, 0);
}

void SeProgressDialog::OnFinished() {
  light_guard_c guard(lock_);
  FinishLocked();
}

bool SeProgressDialog::RunWindow(HINSTANCE instance) {
  if (!CreateModeless(instance, nullptr)) return false;
  MSG msg;
  while (hwnd_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(hwnd_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // A loop ended by WM_QUIT leaves the window: it goes with its thread, not after it.
  if (hwnd_) DestroyWindow(hwnd_);
  return true;
}

bool SeProgressDialog::OpenView() {
  if (thread_) return true;
  if (!RegisterWindowClass(GetModuleHandleW(nullptr))) return false;
  thread_ = CreateThread(nullptr, 0, ViewThread, this, 0, nullptr);
  return thread_ != nullptr;
}

void SeProgressDialog::CloseView() {
  if (!thread_) return;
  // Never waits on a window that nobody closes, even when OnFinished was not called.
  OnFinished();
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
}
