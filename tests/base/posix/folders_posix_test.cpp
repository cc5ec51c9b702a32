#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/folders.h"
#include "base/folders_impl.h"
#include "base/text.h"

namespace {

// The system path in the program's backslash form.
std::u16string ProgramPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::u16string wide(path.size() + 1, u'\0');
  wide.resize(Utf8ToUtf16(wide.data(), wide.size(), path.data(), ptrdiff_t(path.size())));
  return wide;
}

TEST(PosixFacts, ModuleFileNameIsProcSelfExe) {
  char target[4096];
  ssize_t length = readlink("/proc/self/exe", target, sizeof target);
  ASSERT_GT(length, 0);
  EXPECT_EQ(std::u16string(module_file_name()), ProgramPath(std::string(target, size_t(length))));
}

TEST(PosixFacts, TempIsTmpdirElseTmp) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::u16string expected = tmpdir && tmpdir[0] == '/' ? ProgramPath(tmpdir) : u"\\tmp";
  EXPECT_EQ(std::u16string(special_folder(kFolderTemp)), expected);
}

TEST(PosixFacts, CurrentDirectoryInProgramForm) {
  char directory[4096];
  ASSERT_NE(getcwd(directory, sizeof directory), nullptr);
  EXPECT_EQ(std::u16string(cached_current_directory()), ProgramPath(directory));
}

}  // namespace
