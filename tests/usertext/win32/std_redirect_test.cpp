// StdRedirect on Windows: SetStdHandle to a file handle.
#include "usertext/std_redirect.h"

#include <windows.h>


namespace {
DWORD Which(UtStdStream stream) {
  return stream == UtStdStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}
}  // namespace

StdRedirect::StdRedirect(UtStdStream stream, const std::string& path) : stream_(stream) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  saved_ = reinterpret_cast<intptr_t>(GetStdHandle(Which(stream)));
  file_ = reinterpret_cast<intptr_t>(file);
  SetStdHandle(Which(stream), file);
}

StdRedirect::~StdRedirect() {
  SetStdHandle(Which(stream_), reinterpret_cast<HANDLE>(saved_));
  CloseHandle(reinterpret_cast<HANDLE>(file_));
}
