// Points the process's standard output or standard error at a file while the object lives, so a
// test can read back the exact bytes a sink wrote.
#pragma once
#include <string>

#include "usertext/std_stream.h"

class StdRedirect {
 public:
  StdRedirect(UtStdStream stream, const std::string& path);
  ~StdRedirect();
  StdRedirect(const StdRedirect&) = delete;
  StdRedirect& operator=(const StdRedirect&) = delete;

 private:
  UtStdStream stream_;
  intptr_t saved_;
  intptr_t file_;
};
