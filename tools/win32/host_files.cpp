#include "tools/host_files.h"

#include <windows.h>

#include "tools/paths.h"

namespace tool {

std::string ProgramDirectory() {
  wchar_t path[32768];
  DWORD length = GetModuleFileNameW(nullptr, path, 32768);
  if (length == 0 || length >= 32768) return {};
  std::string full = Narrow(reinterpret_cast<const char16_t*>(path));
  size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : full.substr(0, slash);
}

// Windows runs any file whose name says so.
bool MarkExecutable(const std::string&) { return true; }

}  // namespace tool
