// StdRedirect on Linux: dup2 over descriptor 1 or 2.
#include "usertext/std_redirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {
int Descriptor(UtStdStream stream) { return stream == UtStdStream::kOutput ? 1 : 2; }
}  // namespace

StdRedirect::StdRedirect(UtStdStream stream, const std::string& path) : stream_(stream) {
  std::fflush(nullptr);
  file_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  saved_ = dup(Descriptor(stream));
  dup2(int(file_), Descriptor(stream));
}

StdRedirect::~StdRedirect() {
  std::fflush(nullptr);
  dup2(int(saved_), Descriptor(stream_));
  close(int(saved_));
  close(int(file_));
}
