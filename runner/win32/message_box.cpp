#include "runner/message_box.h"

#include <windows.h>

void show_message_box(const char16_t* caption, const char16_t* body) {
  // 0x30: an OK button and the exclamation icon. The button pressed does not matter.
  MessageBoxW(GetDesktopWindow(), reinterpret_cast<const wchar_t*>(body),
              reinterpret_cast<const wchar_t*>(caption), MB_OK | MB_ICONEXCLAMATION);
}
