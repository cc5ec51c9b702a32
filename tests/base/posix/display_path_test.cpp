// Paths shown on Linux: slashes for the program's backslashes, the same text when none is there.
#include <gtest/gtest.h>

#include <string>

#include "base/file.h"
#include "base/pool.h"

namespace {

TEST(DisplayPathPosix, BackslashesBecomeSlashes) {
  kd_mp_c pool;
  EXPECT_EQ(std::u16string(display_path(&pool, u"temp\\setup-1\\autorun\\")), u"temp/setup-1/autorun/");
  EXPECT_EQ(std::u16string(display_path(&pool, u"docs\\read me.txt")), u"docs/read me.txt");
  const char16_t* plain = u"/already/native";
  EXPECT_EQ(display_path(&pool, plain), plain);  // no copy when nothing changes
  EXPECT_EQ(display_path(&pool, nullptr), nullptr);
}

}  // namespace
