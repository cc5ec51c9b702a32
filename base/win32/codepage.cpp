// codepage_c on Windows: the system's own conversions, one character at a time.
#include "base/codepage.h"

#include <windows.h>

#include <atomic>

#include "base/text.h"

namespace {

enum : int { kUnknown = 0, kAccepted = 1, kRefused = 2 };

// Whether the ANSI code page takes WC_NO_BEST_FIT_CHARS, probed once per process. Threads that
// race here all compute the same answer.
std::atomic<int> g_ansi_exact_flag{kUnknown};

bool ProbeExactFlag(UINT code_page) {
  char out[kCodePageMaxCharBytes];
  BOOL used_default = FALSE;
  return WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, L"A", 1, out, sizeof out, nullptr,
                             &used_default) > 0;
}

bool ExactFlagFor(UINT code_page) {
  if (code_page != CP_ACP) return ProbeExactFlag(code_page);
  int known = g_ansi_exact_flag.load(std::memory_order_relaxed);
  if (known == kUnknown) {
    known = ProbeExactFlag(CP_ACP) ? kAccepted : kRefused;
    g_ansi_exact_flag.store(known, std::memory_order_relaxed);
  }
  return known == kAccepted;
}

// One character to one UTF-16 unit; 0 when the system refuses. Pages that take no
// MB_ERR_INVALID_CHARS convert without it.
int ToUnit(UINT code_page, const char* bytes, int n, wchar_t* unit) {
  int got = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, n, unit, 1);
  if (got == 0 && GetLastError() == ERROR_INVALID_FLAGS)
    got = MultiByteToWideChar(code_page, 0, bytes, n, unit, 1);
  return got;
}

// What the object keeps: the page, and whether it takes WC_NO_BEST_FIT_CHARS.
enum : size_t { kPage = 0, kExactFlag = 1 };

}  // namespace

codepage_c::codepage_c(uint32_t code_page) {
  utf8_ = code_page == kCodePageUtf8 || (code_page == CP_ACP && GetACP() == CP_UTF8);
  system_[kPage] = code_page;
  system_[kExactFlag] = !utf8_ && ExactFlagFor(code_page);
}

codepage_c::~codepage_c() = default;

uint32_t codepage_c::DecodeChar(const char* bytes, size_t len, size_t* used) {
  const UINT code_page = static_cast<UINT>(system_[kPage]);
  *used = 1;
  int n = IsDBCSLeadByteEx(code_page, static_cast<BYTE>(bytes[0])) ? 2 : 1;
  if (static_cast<size_t>(n) > len) return kInvalidCodePoint;
  wchar_t unit = 0;
  if (ToUnit(code_page, bytes, n, &unit) != 1) return kInvalidCodePoint;
  *used = static_cast<size_t>(n);
  return static_cast<uint16_t>(unit);
}

size_t codepage_c::EncodeChar(char16_t unit, char out[kCodePageMaxCharBytes]) {
  const UINT code_page = static_cast<UINT>(system_[kPage]);
  const wchar_t wide = static_cast<wchar_t>(unit);
  if (system_[kExactFlag]) {
    BOOL used_default = FALSE;
    int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, &wide, 1, out,
                                kCodePageMaxCharBytes, nullptr, &used_default);
    return n > 0 && !used_default ? static_cast<size_t>(n) : 0;
  }
  // Without the flag the system may pick a look-alike: keep only what converts back unchanged.
  int n = WideCharToMultiByte(code_page, 0, &wide, 1, out, kCodePageMaxCharBytes, nullptr, nullptr);
  wchar_t back[2] = {};
  if (n <= 0 || MultiByteToWideChar(code_page, 0, out, n, back, 2) != 1 || back[0] != wide)
    return 0;
  return static_cast<size_t>(n);
}
