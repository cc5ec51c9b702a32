#include "tools/staged_output.h"

#include <filesystem>
#include <system_error>

#include "base/errors.h"
#include "tools/paths.h"

namespace tool {

namespace fs = std::filesystem;

bool StagedOutput::IsInput(const std::string& path) const {
  for (const std::string& input : inputs_) {
    std::error_code ec;
    if (fs::equivalent(path, input, ec)) return true;
  }
  return false;
}

err_t StagedOutput::Create(const std::string& path, file_handle_t* handle) {
  *handle = kNoHandle;
  if (IsInput(path) || IsInput(TempPath(path))) {
    clash_ = path;
    return kErrInvalidParameter;
  }
  if (err_t e = open_file(handle, Wide(TempPath(path)).c_str(), kOpenCreateOrTruncate)) return e;
  staged_.push_back(path);
  return kOk;
}

err_t StagedOutput::Commit() {
  for (size_t i = 0; i < staged_.size(); ++i) {
    std::error_code ec;
    fs::rename(TempPath(staged_[i]), staged_[i], ec);
    if (ec) {
      staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(i));
      return kErrAccessDenied;
    }
  }
  staged_.clear();
  return kOk;
}

void StagedOutput::Discard() {
  for (const std::string& path : staged_) delete_path(Wide(TempPath(path)).c_str());
  staged_.clear();
}

}  // namespace tool
