#include "isofs/password.h"

#include <cstring>

#include "base/text.h"
#include "isofs/console_echo.h"
#include "isofs/namespace.h"

namespace IsoFs {

// One byte at a time up to a line feed, a zero byte or the end of input; a carriage return
// right before the line feed is dropped. Once kMaxLine bytes are stored, the rest of the input
// is read and dropped up to its end, so no tail of an overlong line comes back as the next
// attempt. At a console (one whose echo the prompt turned off) the line end still ends it: a
// person who typed too much has pressed Enter, and waiting on for an end-of-input key they
// have no reason to press would leave them at a prompt that never returns.
err_t PasswordIterator::ReadLine(char* line, uint32_t* length, bool at_console) {
  uint32_t n = 0;
  for (;;) {
    char c;
    uint32_t got = 0;
    if (err_t e = read_file(input_, &c, 1, &got)) {
      *length = n;
      return e;
    }
    if (got == 0) break;
    if (n == kMaxLine && !at_console) continue;
    if (c == '\n' || c == '\0') break;
    if (n < kMaxLine) line[n++] = c;
  }
  if (n > 0 && line[n - 1] == '\r') --n;
  *length = n;
  return kOk;
}

err_t PasswordIterator::Next(const char16_t** password) {
  *password = nullptr;
  Clear();
  static constexpr char kPrompt[] = "password:";
  if (err_t e = write_file(output_, kPrompt, sizeof kPrompt - 1, 0)) return e;
  char line[kMaxLine + 1];
  uint32_t length = 0;
  uint64_t saved = 0;
  bool echo_was_on = console_echo_off(input_, &saved);
  err_t e = ReadLine(line, &length, echo_was_on);
  if (echo_was_on) console_mode_restore(input_, saved);
  if (e == kOk) e = write_file(output_, "\n", 1, 0);
  if (e == kOk) {
    size_t units = CodePageToUtf16(0, nullptr, 0, line, length) + 1;
    password_ = static_cast<char16_t*>(HeapAllocate(units * sizeof(char16_t)));
    if (password_) {
      CodePageToUtf16(0, password_, units, line, length);
      *password = password_;
    } else {
      e = kErrOutOfMemory;
    }
  }
  volatile char* wipe = line;
  for (size_t i = 0; i < sizeof line; ++i) wipe[i] = 0;
  return e;
}

void PasswordIterator::Clear() {
  if (!password_) return;
  volatile char16_t* wipe = password_;
  for (size_t i = 0; password_[i]; ++i) wipe[i] = 0;
  HeapFree(password_);
  password_ = nullptr;
}

}  // namespace IsoFs
