// Standard handles on Linux: descriptors 1 and 2, when they are open.
#include "usertext/std_stream.h"

#include <fcntl.h>
#include <unistd.h>

file_handle_t UtStdHandle(UtStdStream stream) {
  int fd = stream == UtStdStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  if (fcntl(fd, F_GETFD) < 0) return kNoHandle;
  return fd;
}

const char kUtLineEnd[] = "\n";
