// Shell helpers for the POSIX tests that run real tools: whether a command exists, running
// one quietly, and capturing what one writes.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

namespace testing_support {

inline bool Have(const std::string& command) {
  return std::system(("command -v " + command + " >/dev/null 2>&1").c_str()) == 0;
}

inline int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

}  // namespace testing_support
