// The Windows child process: the helper child's system calls (its arguments come from the
// system's own command-line parser), and what only Windows has (32-bit exit codes, the handle
// list that keeps other inheritable handles back).
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/folders.h"
#include "base/thread.h"
#include "runner/console.h"
#include "runner/process.h"
#include "tests/runner/process_test_support.h"

namespace child_helper {

namespace {

std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

HANDLE Stream(int stream) {
  static constexpr DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return GetStdHandle(kIds[stream]);
}

}  // namespace

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; argv && i < count; ++i) args.push_back(Utf8(argv[i]));
  LocalFree(argv);
  return args;
}

std::string ReadAll(int stream) {
  std::string all;
  char buffer[4096];
  DWORD n;
  while (ReadFile(Stream(stream), buffer, sizeof buffer, &n, nullptr) && n > 0) all.append(buffer, n);
  return all;
}

void Write(int stream, const std::string& bytes) {
  DWORD written;
  WriteFile(Stream(stream), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

void Exit(uint32_t code) { ExitProcess(code); }

// Which of the handle values given as arguments are open here; exits with their count.
uint32_t PlatformReport(std::string* report) {
  uint32_t open = 0;
  for (const std::string& value : Arguments()) {
    DWORD flags;
    bool is_open = GetHandleInformation(reinterpret_cast<HANDLE>(std::stoull(value)), &flags);
    *report += value + (is_open ? " open\n" : " closed\n");
    open += is_open;
  }
  return open;
}

// Without a console: the signal window is there, a close request triggers the interrupt pin,
// and the pin's trigger ends the window.
uint32_t PlatformConsoleScenario(const std::string& name) {
  FreeConsole();
  console_setup();
  HWND window = FindWindowW(L"SignalWindow", L"SignalWindow");
  if (!window) return 1;
  PostMessageW(window, WM_CLOSE, 0, 0);
  if (pin_wait(process_pin(kPinInterrupt), 10000) != kOk) return 2;
  for (int i = 0; i < 200 && IsWindow(window); ++i) Sleep(50);
  return IsWindow(window) ? 3 : 0;
}

}  // namespace child_helper

namespace {

using child_helper::LaunchHelper;
using Owned = child_helper::OwnedProcess;

TEST(ProcessWin32, ExitCodesUseAll32Bits) {
  struct Case {
    const char16_t* text;
    uint32_t code;
  };
  for (Case c : {Case{u"1234567", 1234567u}, Case{u"3221225477", 0xC0000005u}}) {
    Owned child;
    ASSERT_EQ(LaunchHelper(child.get(), u"exit", {c.text}), kOk);
    EXPECT_EQ(child->wait_exit(child.get()), c.code);
  }
}

// An inheritable handle of ours, its value as text.
struct InheritableEvent {
  InheritableEvent() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    handle = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    std::string digits = std::to_string(reinterpret_cast<uintptr_t>(handle));
    value.assign(digits.begin(), digits.end());
  }
  ~InheritableEvent() { CloseHandle(handle); }
  HANDLE handle;
  std::u16string value;
};

TEST(ProcessWin32, OtherInheritableHandlesStayBehind) {
  InheritableEvent event;
  Owned with_handles;  // the handle list names only the three standard handles
  with_handles->set_stdin(with_handles.get(), current_standard_handle(kStdInput));
  ASSERT_EQ(LaunchHelper(with_handles.get(), u"report", {event.value.c_str()}), kOk);
  EXPECT_EQ(with_handles->wait_exit(with_handles.get()), 0u);

  Owned without_handles;  // nothing inherited at all
  ASSERT_EQ(LaunchHelper(without_handles.get(), u"report", {event.value.c_str()}), kOk);
  EXPECT_EQ(without_handles->wait_exit(without_handles.get()), 0u);
}

}  // namespace
