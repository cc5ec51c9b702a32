#include "tools/host_files.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {

std::string ProgramDirectory() {
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  std::string path(self, static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash ? slash : 1);
}

bool MarkExecutable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  // Execute for each of owner, group and others that may read.
  mode_t mode = st.st_mode & 07777;
  return chmod(path.c_str(), mode | ((mode & 0444) >> 2)) == 0;
}

}  // namespace tool
