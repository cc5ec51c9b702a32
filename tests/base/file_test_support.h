// Helpers of the file-layer tests: a scratch folder addressed both in the program's own
// backslash form and as a std::filesystem path, and whole-file reads and writes that do not
// go through the layer under test.
#pragma once
#include <filesystem>
#include <string>

#include "base/file.h"
#include "support/test_support.h"

namespace testing_support {

class FileScratch {
 public:
  FileScratch();
  // The folder in backslash form, and a name below it ("a\\b" or "a/b").
  const std::u16string& path() const { return path_; }
  std::u16string Child(const std::string& relative) const;
  // The same places for std::filesystem ("" is the folder itself).
  std::filesystem::path Native(const std::string& relative) const;
  // What a listing of the folder says about one of its entries.
  file_entry_info_t Info(const std::string& name) const;

 private:
  ScratchDir dir_;
  std::u16string path_;
};

std::string ReadAll(const std::filesystem::path& file);
void WriteAll(const std::filesystem::path& file, const std::string& bytes);

}  // namespace testing_support
