// The progress dialog seen from outside, as a user sees it: drives runners made with
// SHOW_PROGRESS, waits for their dialog, saves a picture of it and presses its button. Runs only
// when tests/e2e/progress_view.sh starts it under Xvfb, which sets:
//   ISORUN_SCREENSHOT_RUNNER  the runner to start (a Unix or Windows path)
//   ISORUN_SCREENSHOT_PNG     where to save the picture
//   ISORUN_SCREENSHOT_EXIT    the exit code the runner's program is asked for (--exit=N)
//   ISORUN_SCREENSHOT_TEMP    for a runner made without VERIFY_MEDIA: the empty folder given to
//                             it as TEMP; Cancel is pressed during its extraction
// and optionally, for a run in another language:
//   ISORUN_SCREENSHOT_LANGUAGE  the user's language (sLanguage) while the runner runs
//   ISORUN_SCREENSHOT_TITLE, ISORUN_SCREENSHOT_TEXT, ISORUN_SCREENSHOT_BUTTON,
//   ISORUN_SCREENSHOT_ELAPSED   the dialog's title, sentence, button and elapsed-time label
//                               expected (the English texts when unset; Wine reads the variables
//                               in the character set of the Linux locale, so a UTF-8 one)
// NoWindow.* instead runs each runner of ISORUN_NO_WINDOW_RUNNERS (paths between '|') to its end
// and checks that no dialog ever shows.
//
// A step is made slow by suspending the runner's main thread, which runs it, while the dialog's
// own thread goes on. A verify that is not stopped reaches a damaged block near the end of the
// image and fails, so the program's exit code proves that Skip stopped it; a cancelled
// extraction ends the run with 99 and leaves nothing in TEMP.
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
constexpr int kExitRunnerFailed = 99;

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
  // For a failure's message: how the runner ended, if it has.
  std::string Outcome() {
    DWORD code = 0;
    if (!Ended() || !GetExitCodeProcess(info.hProcess, &code)) return " (still running)";
    return " (it ended with " + std::to_string(code) + ")";
  }
  // Lets the main thread run for about a millisecond.
  void Step() {
    ResumeThread(info.hThread);
    Sleep(1);
    SuspendThread(info.hThread);
  }

  PROCESS_INFORMATION info = {};
};

bool IsEmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  int entries = 0;
  do entries += wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..");
  while (FindNextFileW(search, &found));
  FindClose(search);
  return entries == 0;
}

// Whether a folder holds a folder with something in it: the run directory, being filled.
bool HoldsAFilledFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool filled = false;
  do {
    bool inner = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                 wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..");
    filled = inner && !IsEmptyFolder(folder + L"\\" + found.cFileName);
  } while (!filled && FindNextFileW(search, &found));
  FindClose(search);
  return filled;
}

// Gives the main thread a moment at a time until the dialog's window exists and `ready` says
// the step to picture is under way, and then none; the dialog's own thread runs freely and shows
// the window after a second, the step being far from half-way. Returns the window once shown
// and painted, null when it never showed.
template <typename Ready>
HWND SlowStepDialog(Runner& runner, Ready ready) {
  HANDLE main_thread = runner.info.hThread;
  HWND hwnd = nullptr;
  for (int i = 0; i < 6000 && !(hwnd && ready()) && !runner.Ended(); ++i) {
    runner.Step();
    hwnd = FindDialogOf(runner.info.dwProcessId);
    if (!hwnd) Sleep(9);
  }
  if (!hwnd) return nullptr;
  for (int i = 0; i < 300 && !IsWindowVisible(hwnd); ++i) {
    if (!NudgeUntilResponsive(main_thread, hwnd)) return nullptr;
    Sleep(20);
  }
  if (!IsWindowVisible(hwnd)) return nullptr;
  // A few timer ticks paint the bar and the elapsed time.
  for (int i = 0; i < 5; ++i) {
    Sleep(100);
    if (!NudgeUntilResponsive(main_thread, hwnd)) return nullptr;
  }
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  if (!NudgeUntilResponsive(main_thread, hwnd)) return nullptr;
  Sleep(200);
  return hwnd;
}

// The dialog's texts are the expected ones (see the variables above); its picture is saved.
void CheckTextsAndSavePicture(HWND hwnd, const wchar_t* title, const wchar_t* text,
                              const wchar_t* button) {
  EXPECT_EQ(TextOf(hwnd), EnvText(L"ISORUN_SCREENSHOT_TITLE", title));
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, 102)), EnvText(L"ISORUN_SCREENSHOT_TEXT", text));
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, IDCANCEL)), EnvText(L"ISORUN_SCREENSHOT_BUTTON", button));
  std::wstring elapsed = EnvText(L"ISORUN_SCREENSHOT_ELAPSED", L"Elapsed time:") + L"  0:00:";
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, 101)).substr(0, elapsed.size()), elapsed);
  int width = 0, height = 0;
  std::vector<uint8_t> rgb = CaptureWindow(hwnd, &width, &height);
  ASSERT_GT(width, 100);
  ASSERT_GT(height, 40);
  EXPECT_GE(DistinctColours(rgb), 4u) << "the captured window is blank";
  EXPECT_TRUE(WritePng(std::getenv("ISORUN_SCREENSHOT_PNG"), width, height, rgb));
}

// Presses the button, handled while the step still waits, then lets the runner run to its end;
// returns its exit code.
int PressAndFinish(Runner& runner, HWND hwnd) {
  PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  for (int i = 0; i < 5; ++i) {
    Sleep(50);
    EXPECT_TRUE(NudgeUntilResponsive(runner.info.hThread, hwnd));
  }
  ResumeThread(runner.info.hThread);
  EXPECT_EQ(WaitForSingleObject(runner.info.hProcess, 120000), DWORD(WAIT_OBJECT_0))
      << "the runner did not end (a message box?)";
  DWORD code = 0;
  GetExitCodeProcess(runner.info.hProcess, &code);
  EXPECT_FALSE(IsWindow(hwnd));
  return int(code);
}

// The runner of ISORUN_SCREENSHOT_RUNNER, started in the language asked for; false when the
// variables are not set.
bool StartRunner(Runner& runner, testing_support::ScopedLanguageValue& language) {
  const char* runner_path = std::getenv("ISORUN_SCREENSHOT_RUNNER");
  const char* exit_text = std::getenv("ISORUN_SCREENSHOT_EXIT");
  if (!runner_path || !std::getenv("ISORUN_SCREENSHOT_PNG") || !exit_text) return false;
  if (const char* name = std::getenv("ISORUN_SCREENSHOT_LANGUAGE")) language.Set(REG_SZ, Widen(name));
  EXPECT_TRUE(runner.Start(L"\"" + WindowsPath(runner_path) + L"\" --exit=" + Widen(exit_text)));
  return true;
}

TEST(ProgressScreenshot, DialogShowsAndSkipLetsTheProgramRun) {
  if (std::getenv("ISORUN_SCREENSHOT_TEMP")) GTEST_SKIP() << "a runner to cancel";
  testing_support::ScopedLanguageValue language;
  Runner runner;
  if (!StartRunner(runner, language)) GTEST_SKIP() << "run by tests/e2e/progress_view.sh";
  HWND hwnd = SlowStepDialog(runner, [] { return true; });
  ASSERT_NE(hwnd, nullptr) << "the runner showed no verify dialog" << runner.Outcome();
  CheckTextsAndSavePicture(hwnd, L"Verifying Media",
                           L"Checking that the setup is complete and undamaged.", L"Skip");
  EXPECT_EQ(PressAndFinish(runner, hwnd), std::atoi(std::getenv("ISORUN_SCREENSHOT_EXIT")))
      << "the runner did not run its program after Skip";
}

// Cancel during the extraction ends the run as Ctrl-C does: 99, no box, no program, and the
// run directory deleted with what was written into it.
TEST(ProgressScreenshot, CancelStopsTheExtraction) {
  const char* temp = std::getenv("ISORUN_SCREENSHOT_TEMP");
  if (!temp) GTEST_SKIP() << "run by tests/e2e/progress_view.sh";
  std::wstring temp_folder = WindowsPath(temp);
  ASSERT_TRUE(IsEmptyFolder(temp_folder));
  SetEnvironmentVariableW(L"TEMP", temp_folder.c_str());
  SetEnvironmentVariableW(L"TMP", temp_folder.c_str());
  testing_support::ScopedLanguageValue language;
  Runner runner;
  ASSERT_TRUE(StartRunner(runner, language));
  HWND hwnd = SlowStepDialog(runner, [&] { return HoldsAFilledFolder(temp_folder); });
  ASSERT_NE(hwnd, nullptr) << "the runner showed no dialog while extracting" << runner.Outcome();
  CheckTextsAndSavePicture(hwnd, L"Preparing Setup",
                           L"Unpacking the setup's files to a temporary folder.", L"Cancel");
  EXPECT_EQ(PressAndFinish(runner, hwnd), kExitRunnerFailed);
  EXPECT_TRUE(IsEmptyFolder(temp_folder)) << "the run directory was left";
}

// Runners that must never show their dialog: each runs to its end unhindered.
TEST(ProgressScreenshot, NoWindow) {
  const char* runners = std::getenv("ISORUN_NO_WINDOW_RUNNERS");
  if (!runners) GTEST_SKIP() << "run by tests/e2e/progress_view.sh";
  std::string list = runners;
  for (size_t start = 0, end; start < list.size(); start = end + 1) {
    end = list.find('|', start);
    if (end == std::string::npos) end = list.size();
    std::string path = list.substr(start, end - start);
    Runner runner;
    ASSERT_TRUE(runner.Start(L"\"" + WindowsPath(path.c_str()) + L"\" --exit=7"));
    ResumeThread(runner.info.hThread);
    bool shown = false;
    while (!runner.Ended() && !shown) {
      HWND hwnd = FindDialogOf(runner.info.dwProcessId);
      shown = hwnd && IsWindowVisible(hwnd);
      Sleep(5);
    }
    EXPECT_FALSE(shown) << path << " showed its dialog";
    ASSERT_EQ(WaitForSingleObject(runner.info.hProcess, 120000), DWORD(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(runner.info.hProcess, &code);
    EXPECT_EQ(code, 7u) << path;
  }
}

}  // namespace
