// The verify dialog seen from outside, as a user sees it: drives a runner made with
// SHOW_PROGRESS and VERIFY_MEDIA, waits for its dialog, saves a picture of it, presses Skip and
// checks that the runner still runs its program. Runs only when tests/e2e/progress_view.sh starts
// it under Xvfb, which sets:
//   ISORUN_SCREENSHOT_RUNNER  the runner to start (a Unix or Windows path)
//   ISORUN_SCREENSHOT_PNG     where to save the picture
//   ISORUN_SCREENSHOT_EXIT    the exit code the runner's program is asked for (--exit=N)
// and optionally, for a run in another language:
//   ISORUN_SCREENSHOT_LANGUAGE  the user's language (sLanguage) while the runner runs
//   ISORUN_SCREENSHOT_TITLE, ISORUN_SCREENSHOT_SKIP, ISORUN_SCREENSHOT_ELAPSED
//                               the dialog's title, button and elapsed-time label expected
//                               (the English texts when unset; Wine reads the variables in
//                               the character set of the Linux locale, so a UTF-8 one)
//
// The verify is made slow by suspending the runner's main thread, which runs it, while the
// dialog's own thread goes on; a verify that is not stopped reaches a damaged block near the end
// of the image and fails, so the program's exit code proves that Skip stopped it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "runner/win32/scoped_language.h"

namespace {

constexpr wchar_t kDialogClass[] = L"KdsmxSetupProgressDialog";

std::wstring Widen(const char* text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(size_t(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
  out.resize(wcslen(out.c_str()));
  return out;
}

// A Unix path reaches Windows programs through drive Z:.
std::wstring WindowsPath(const char* path) {
  std::wstring out = Widen(path);
  if (!out.empty() && out[0] == L'/') out = L"Z:" + out;
  for (wchar_t& c : out) c = c == L'/' ? L'\\' : c;
  return out;
}

struct FindContext {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM context) {
  auto* find = reinterpret_cast<FindContext*>(context);
  wchar_t name[64];
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != find->process_id || !GetClassNameW(hwnd, name, 64) || wcscmp(name, kDialogClass))
    return TRUE;
  find->found = hwnd;
  return FALSE;
}

HWND FindDialogOf(DWORD process_id) {
  FindContext find = {process_id, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[256] = {};
  DWORD_PTR ignored;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, &ignored);
  return text;
}

// Whether the window's thread answers within 200 ms.
bool Responds(HWND hwnd) {
  DWORD_PTR ignored;
  return SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &ignored) != 0;
}

// The suspended main thread may hold a lock the dialog's thread waits for: let it run a moment
// until the dialog answers again.
bool NudgeUntilResponsive(HANDLE main_thread, HWND hwnd) {
  for (int i = 0; i < 200; ++i) {
    if (Responds(hwnd)) return true;
    ResumeThread(main_thread);
    Sleep(1);
    SuspendThread(main_thread);
  }
  return false;
}

// The text of an environment variable, or `otherwise` when it is unset. Read as UTF-16: the
// ANSI code page need not hold it.
std::wstring EnvText(const wchar_t* name, const wchar_t* otherwise) {
  const wchar_t* value = _wgetenv(name);
  return value ? value : otherwise;
}

// ---- A small PNG writer: 8-bit RGB, one zlib stream ---------------------------------------

void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

void PutChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
  PutBe32(out, uint32_t(data.size()));
  size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  PutBe32(out, uint32_t(crc32(0, out->data() + start, uInt(out->size() - start))));
}

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    raw.insert(raw.end(), rgb.begin() + size_t(y) * width * 3, rgb.begin() + size_t(y + 1) * width * 3);
  }
  uLongf packed_size = compressBound(uLong(raw.size()));
  std::vector<uint8_t> packed(packed_size);
  if (compress(packed.data(), &packed_size, raw.data(), uLong(raw.size())) != Z_OK) return false;
  packed.resize(packed_size);
  std::vector<uint8_t> header;
  PutBe32(&header, uint32_t(width));
  PutBe32(&header, uint32_t(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", packed);
  PutChunk(&png, "IEND", {});
  FILE* file = _wfopen(WindowsPath(path.c_str()).c_str(), L"wb");
  if (!file) return false;
  bool ok = fwrite(png.data(), 1, png.size(), file) == png.size();
  return fclose(file) == 0 && ok;
}

// The window's rectangle as the screen shows it, in RGB rows.
std::vector<uint8_t> CaptureWindow(HWND hwnd, int* width, int* height) {
  RECT r;
  GetWindowRect(hwnd, &r);
  *width = r.right - r.left;
  *height = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = *width;
  info.bmiHeader.biHeight = -*height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, *width, *height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::vector<uint8_t> rgb;
  const auto* bgra = static_cast<const uint8_t*>(bits);
  for (int i = 0; bits && i < *width * *height; ++i) {
    rgb.insert(rgb.end(), {bgra[4 * i + 2], bgra[4 * i + 1], bgra[4 * i]});
  }
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return rgb;
}

size_t DistinctColours(const std::vector<uint8_t>& rgb) {
  std::set<uint32_t> colours;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    colours.insert(uint32_t(rgb[i]) << 16 | uint32_t(rgb[i + 1]) << 8 | rgb[i + 2]);
  return colours.size();
}

// The runner's process, started with its main thread suspended; ended by force if a check
// fails before it has ended by itself.
class Runner {
 public:
  ~Runner() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  bool Start(std::wstring command) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                          nullptr, nullptr, &startup, &info) != 0;
  }
  bool Ended() { return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0; }
  // Lets the main thread run for about a millisecond.
  void Step() {
    ResumeThread(info.hThread);
    Sleep(1);
    SuspendThread(info.hThread);
  }

  PROCESS_INFORMATION info = {};
};

TEST(ProgressScreenshot, DialogShowsAndSkipLetsTheProgramRun) {
  const char* runner_path = std::getenv("ISORUN_SCREENSHOT_RUNNER");
  const char* png = std::getenv("ISORUN_SCREENSHOT_PNG");
  const char* exit_text = std::getenv("ISORUN_SCREENSHOT_EXIT");
  if (!runner_path || !png || !exit_text) GTEST_SKIP() << "run by tests/e2e/progress_view.sh";
  testing_support::ScopedLanguageValue language;
  if (const char* name = std::getenv("ISORUN_SCREENSHOT_LANGUAGE")) language.Set(REG_SZ, Widen(name));

  Runner runner;
  ASSERT_TRUE(runner.Start(L"\"" + WindowsPath(runner_path) + L"\" --exit=" + Widen(exit_text)));
  HANDLE main_thread = runner.info.hThread;
  // A slow verify: the main thread, which runs it, gets a moment at a time until the dialog's
  // window exists, and then none; the dialog's own thread runs freely and shows the window
  // after a second, the verify being far from half-way.
  HWND hwnd = nullptr;
  for (int i = 0; i < 6000 && !hwnd && !runner.Ended(); ++i) {
    runner.Step();
    hwnd = FindDialogOf(runner.info.dwProcessId);
    if (!hwnd) Sleep(9);
  }
  ASSERT_NE(hwnd, nullptr) << "the runner showed no verify dialog";
  for (int i = 0; i < 300 && !IsWindowVisible(hwnd); ++i) {
    ASSERT_TRUE(NudgeUntilResponsive(main_thread, hwnd));
    Sleep(20);
  }
  ASSERT_TRUE(IsWindowVisible(hwnd)) << "the dialog stayed hidden";
  // A few timer ticks paint the bar and the elapsed time.
  for (int i = 0; i < 5; ++i) {
    Sleep(100);
    ASSERT_TRUE(NudgeUntilResponsive(main_thread, hwnd));
  }
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  ASSERT_TRUE(NudgeUntilResponsive(main_thread, hwnd));
  Sleep(200);

  EXPECT_EQ(TextOf(hwnd), EnvText(L"ISORUN_SCREENSHOT_TITLE", L"Verifying Media"));
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, IDCANCEL)), EnvText(L"ISORUN_SCREENSHOT_SKIP", L"Skip"));
  std::wstring elapsed = EnvText(L"ISORUN_SCREENSHOT_ELAPSED", L"Elapsed time:") + L"  0:00:";
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, 101)).substr(0, elapsed.size()), elapsed);
  int width = 0, height = 0;
  std::vector<uint8_t> rgb = CaptureWindow(hwnd, &width, &height);
  ASSERT_GT(width, 100);
  ASSERT_GT(height, 40);
  EXPECT_GE(DistinctColours(rgb), 4u) << "the captured window is blank";
  EXPECT_TRUE(WritePng(png, width, height, rgb));

  // Skip, handled while the verify still waits; then the verify stops at its next step.
  PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  for (int i = 0; i < 5; ++i) {
    Sleep(50);
    ASSERT_TRUE(NudgeUntilResponsive(main_thread, hwnd));
  }
  ResumeThread(main_thread);
  ASSERT_EQ(WaitForSingleObject(runner.info.hProcess, 120000), DWORD(WAIT_OBJECT_0))
      << "the runner did not end (a message box?)";
  DWORD code = 0;
  GetExitCodeProcess(runner.info.hProcess, &code);
  EXPECT_EQ(int(code), std::atoi(exit_text)) << "the runner did not run its program after Skip";
  EXPECT_FALSE(IsWindow(hwnd));
}

}  // namespace
