// Standard handles on Windows: GetStdHandle, asked again for every write.
#include "usertext/std_stream.h"

#include <windows.h>

file_handle_t UtStdHandle(UtStdStream stream) {
  HANDLE h = GetStdHandle(stream == UtStdStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return kNoHandle;
  return reinterpret_cast<file_handle_t>(h);
}

const char kUtLineEnd[] = "\r\n";
