// The password source a reader's open may ask for an enciphered image, and the console prompt
// that the media hands to it.
//
// A reader calls Next for each attempt and Clear after it, trying again while its answer is
// kErrAccessDenied. The readers of this program never ask: the container rejects enciphered
// images before anyone would need a password.
#pragma once
#include "base/errors.h"
#include "base/file.h"

class IsoPasswordIterator {
 public:
  // Prompts for the next password; *password stays owned by the iterator until Clear.
  virtual err_t Next(const char16_t** password) = 0;
  // Wipes and frees the current password.
  virtual void Clear() = 0;

 protected:
  ~IsoPasswordIterator() = default;
};

namespace IsoFs {

// Prompts "password:" on the output handle and reads one line from the input handle, with
// echo off while the input is a console that echoes.
class PasswordIterator final : public IsoPasswordIterator {
 public:
  static constexpr uint32_t kMaxLine = 299;

  PasswordIterator(file_handle_t input, file_handle_t output) : input_(input), output_(output) {}
  ~PasswordIterator() { Clear(); }
  PasswordIterator(const PasswordIterator&) = delete;
  PasswordIterator& operator=(const PasswordIterator&) = delete;

  err_t Next(const char16_t** password) override;
  void Clear() override;

 private:
  err_t ReadLine(char* line, uint32_t* length, bool at_console);

  file_handle_t input_;
  file_handle_t output_;
  char16_t* password_ = nullptr;
};

}  // namespace IsoFs
