// Paths shown on Windows keep the program's own backslash form.
#include <gtest/gtest.h>

#include "base/file.h"
#include "base/pool.h"

namespace {

TEST(DisplayPathWin32, PathsStayAsTheyAre) {
  kd_mp_c pool;
  const char16_t* path = u"C:\\Temp\\setup-1\\autorun.exe";
  EXPECT_EQ(display_path(&pool, path), path);
}

}  // namespace
