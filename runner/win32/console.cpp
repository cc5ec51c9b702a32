// Console control handling on Windows: the control handler, and the hidden signal window for a
// process that has no console input.
#include <windows.h>

#include <atomic>

#include "runner/console.h"

namespace {

constexpr UINT kEndSignalWindow = WM_USER + 100;  // 0x464
constexpr wchar_t kSignalWindowName[] = L"SignalWindow";

std::atomic<HWND> g_signal_window{nullptr};
std::atomic<bool> g_logon_ending{false};

BOOL WINAPI ControlHandler(DWORD event) {
  if (!console_control_event(event)) return FALSE;
  // Returning from a close event ends the process: sleep while the main flow finishes.
  if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
  return TRUE;
}

LRESULT CALLBACK SignalWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      console_control_event(kConsoleClose);
      DestroyWindow(window);
      return 0;
    case kEndSignalWindow: DestroyWindow(window); return 0;
    case WM_ENDSESSION:
      if (!wparam) return 0;
      g_signal_window.store(nullptr);
      g_logon_ending.store(true);
      console_control_event(kConsoleLogoff);
      Sleep(INFINITE);
      return 0;
    case WM_DESTROY: g_signal_window.store(nullptr); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

DWORD WINAPI SignalWindowThread(void* ready) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = SignalWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kSignalWindowName;
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, kSignalWindowName, kSignalWindowName,
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS, 100, 100,
                                200, 200, nullptr, nullptr, instance, nullptr);
  if (window) ShowWindow(window, SW_HIDE);
  g_signal_window.store(window);
  SetEvent(static_cast<HANDLE>(ready));
  MSG message;
  while (g_signal_window.load() && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

bool HasConsoleInput() {
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  CloseHandle(input);
  return true;
}

// Starts the signal window's thread and waits until its window is there (or could not be).
void StartSignalWindow() {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ready) return;
  HANDLE thread = CreateThread(nullptr, 0, SignalWindowThread, ready, 0, nullptr);
  if (thread) {
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(thread);
  }
  CloseHandle(ready);
}

}  // namespace

void os_console_install() {
  SetConsoleCtrlHandler(ControlHandler, TRUE);
  if (!HasConsoleInput()) StartSignalWindow();
}

void os_console_interrupted() {
  if (HWND window = g_signal_window.load()) PostMessageW(window, kEndSignalWindow, 0, 0);
}
