// The path algebra: join, split, normalise, full paths against a fixed current directory, and
// both native forms. Pure text, so every case runs on both platforms.
#include <gtest/gtest.h>

#include <string>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"

namespace {

std::u16string Str(const char16_t* s) { return s ? std::u16string(s) : u"<null>"; }

std::u16string Join(const char16_t* a, const char16_t* b) {
  kd_mp_c pool;
  return Str(path_join(&pool, a, b));
}

std::u16string Normalised(const char16_t* path) {
  kd_mp_c pool;
  return Str(path_normalise(&pool, path));
}

path_parts_t Split(const char16_t* path) {
  path_parts_t parts;
  EXPECT_EQ(path_split(path, &parts), kOk);
  return parts;
}

TEST(PathJoin, DropsOneSeparatorOnEachSide) {
  EXPECT_EQ(Join(u"C:\\dir\\", u"\\x"), u"C:\\dir\\x");
  EXPECT_EQ(Join(u"a", u"b"), u"a\\b");
  EXPECT_EQ(Join(u"a/", u"/b"), u"a\\b");
  EXPECT_EQ(Join(u"a\\\\", u"\\\\b"), u"a\\\\\\b");  // only one on each side
  EXPECT_EQ(Join(u"C:\\", u"x"), u"C:\\x");
}

TEST(PathJoin, EmptyFirstPartGivesRootedName) {
  EXPECT_EQ(Join(u"", u"x"), u"\\x");
  EXPECT_EQ(Join(nullptr, u"x"), u"\\x");
  EXPECT_EQ(Join(u"a", u""), u"a\\");
}

TEST(PathJoin, PoolFailureGivesNull) {
  kd_mp_c pool;
  PoolFailNextAllocations(1);
  EXPECT_EQ(path_join(&pool, u"a", u"b"), nullptr);
  PoolFailNextAllocations(0);
}

TEST(PathSplit, DriveRoots) {
  path_parts_t p = Split(u"C:\\a.b\\c");
  EXPECT_EQ(p.root_length, 2u);
  EXPECT_TRUE(p.absolute);
  EXPECT_EQ(p.name_start, 7u);
  EXPECT_EQ(p.extension_start, 8u);  // the dot of a.b is not the name's

  p = Split(u"C:x.txt");
  EXPECT_EQ(p.root_length, 2u);
  EXPECT_FALSE(p.absolute);
  EXPECT_EQ(p.name_start, 2u);
  EXPECT_EQ(p.extension_start, 3u);

  p = Split(u"C:");
  EXPECT_EQ(p.name_start, 2u);
  EXPECT_EQ(p.extension_start, 2u);
}

TEST(PathSplit, ExtensionIsTheNamesLastDot) {
  EXPECT_EQ(Split(u"dir/file.tar.gz").extension_start, 12u);
  EXPECT_EQ(Split(u"dir\\.profile").extension_start, 12u);  // the only dot leads
  EXPECT_EQ(Split(u".a.b").extension_start, 2u);
  EXPECT_EQ(Split(u"name.").extension_start, 4u);
  EXPECT_EQ(Split(u"a\\").name_start, 2u);
}

TEST(PathSplit, RootedAndUncPaths) {
  path_parts_t p = Split(u"\\x\\y");
  EXPECT_EQ(p.root_length, 0u);
  EXPECT_TRUE(p.absolute);
  EXPECT_EQ(p.name_start, 3u);

  p = Split(u"\\\\server\\share\\f.x");
  EXPECT_EQ(p.root_length, 14u);
  EXPECT_TRUE(p.absolute);
  EXPECT_EQ(p.name_start, 15u);
  EXPECT_EQ(p.extension_start, 16u);

  p = Split(u"//server/share");
  EXPECT_EQ(p.root_length, 14u);
  EXPECT_EQ(p.name_start, 14u);  // the root holds no name

  p = Split(u"rel\\x");
  EXPECT_EQ(p.root_length, 0u);
  EXPECT_FALSE(p.absolute);
}

TEST(PathSplit, RejectsEmptyAndMalformedUnc) {
  path_parts_t p{1, true, 1, 1};
  EXPECT_EQ(path_split(u"", &p), kErrInvalidName);
  EXPECT_EQ(p.root_length, 0u);
  EXPECT_EQ(path_split(nullptr, &p), kErrInvalidName);
  EXPECT_EQ(path_split(u"\\\\server", &p), kErrInvalidName);
  EXPECT_EQ(path_split(u"\\\\server\\", &p), kErrInvalidName);
  EXPECT_EQ(path_split(u"\\\\\\share", &p), kErrInvalidName);
}

TEST(PathNormalise, ResolvesDotsAndSeparators) {
  EXPECT_EQ(Normalised(u"C:\\a\\.\\b\\..\\c\\\\d"), u"C:\\a\\c\\d");
  EXPECT_EQ(Normalised(u"C:/a//b"), u"C:\\a\\b");
  EXPECT_EQ(Normalised(u"C:\\..\\..\\x"), u"C:\\x");  // never above the root
  EXPECT_EQ(Normalised(u"\\a\\..\\.."), u"\\");
  EXPECT_EQ(Normalised(u"a\\...\\b"), u"a\\...\\b");  // three dots are a name
}

TEST(PathNormalise, RelativePathsKeepUnresolvedParents) {
  EXPECT_EQ(Normalised(u"..\\x"), u"..\\x");
  EXPECT_EQ(Normalised(u"a\\..\\..\\b"), u"..\\b");
  EXPECT_EQ(Normalised(u"..\\a\\..\\..\\b"), u"..\\..\\b");
  EXPECT_EQ(Normalised(u"C:..\\x"), u"C:..\\x");
  EXPECT_EQ(Normalised(u"a\\.."), u".");
  EXPECT_EQ(Normalised(u""), u".");
  EXPECT_EQ(Normalised(u"C:."), u"C:");
}

TEST(PathNormalise, TrailingSeparatorStays) {
  EXPECT_EQ(Normalised(u"a/b/"), u"a\\b\\");
  EXPECT_EQ(Normalised(u"C:\\a\\"), u"C:\\a\\");
  EXPECT_EQ(Normalised(u"C:\\"), u"C:\\");
  EXPECT_EQ(Normalised(u"C:\\a\\..\\"), u"C:\\");
}

TEST(PathNormalise, UncRoots) {
  EXPECT_EQ(Normalised(u"//server/share/../x"), u"\\\\server\\share\\x");
  EXPECT_EQ(Normalised(u"\\\\.\\NUL"), u"\\\\.\\NUL");  // a device keeps its bare name
  EXPECT_EQ(Normalised(u"\\\\server"), u"<null>");
}

// A fixed current directory: C:\work\dir, with D:'s own current directory D:\ddir.
char16_t* FixedCurrent(malloc_i* pool) { return path_join(pool, u"C:\\work", u"dir"); }
char16_t* FixedDrive(malloc_i* pool, char16_t drive) {
  return drive == u'D' ? path_join(pool, u"D:", u"ddir") : nullptr;
}
char16_t* RootedCurrent(malloc_i* pool) { return path_join(pool, u"", u"home\\u"); }
char16_t* NoCurrent(malloc_i*) { return nullptr; }
char16_t* NoDrive(malloc_i*, char16_t) { return nullptr; }
const current_directory_source_t kWindowsLike{FixedCurrent, FixedDrive};
const current_directory_source_t kLinuxLike{RootedCurrent, NoDrive};

std::u16string Full(const char16_t* base, const char16_t* path,
                    const current_directory_source_t& cwd = kWindowsLike) {
  kd_mp_c pool;
  char16_t* full;
  err_t e = full_path_from(&pool, base, path, cwd, &full);
  return e == kOk ? Str(full) : u"error";
}

err_t FullError(const char16_t* path, const current_directory_source_t& cwd) {
  kd_mp_c pool;
  char16_t* full = reinterpret_cast<char16_t*>(1);
  err_t e = full_path_from(&pool, nullptr, path, cwd, &full);
  EXPECT_EQ(full, nullptr);
  return e;
}

TEST(FullPath, RelativeToCurrentDirectory) {
  EXPECT_EQ(Full(nullptr, u"x"), u"C:\\work\\dir\\x");
  EXPECT_EQ(Full(nullptr, u""), u"C:\\work\\dir");
  EXPECT_EQ(Full(nullptr, u"..\\y/./z"), u"C:\\work\\y\\z");
  EXPECT_EQ(Full(nullptr, u"\\z"), u"C:\\z");  // stays on the current drive
  EXPECT_EQ(Full(nullptr, u"C:\\abs\\..\\p"), u"C:\\p");
  EXPECT_EQ(Full(nullptr, u"\\\\srv\\sh\\a"), u"\\\\srv\\sh\\a");
}

TEST(FullPath, DriveRelativeUsesThatDrivesDirectory) {
  EXPECT_EQ(Full(nullptr, u"D:q"), u"D:\\ddir\\q");
  EXPECT_EQ(Full(nullptr, u"d:"), u"D:\\ddir");
  EXPECT_EQ(Full(nullptr, u"c:q"), u"C:\\work\\dir\\q");  // the base's own drive
  EXPECT_EQ(FullError(u"E:q", kWindowsLike), kErrInvalidParameter);
}

TEST(FullPath, ExplicitBase) {
  EXPECT_EQ(Full(u"D:\\b", u"x"), u"D:\\b\\x");
  EXPECT_EQ(Full(u"sub", u"x"), u"C:\\work\\dir\\sub\\x");
  EXPECT_EQ(Full(u"\\\\srv\\sh\\b", u"\\x"), u"\\\\srv\\sh\\x");
  EXPECT_EQ(Full(u"D:\\b", u"C:\\abs"), u"C:\\abs");
}

TEST(FullPath, RootedCurrentDirectory) {
  EXPECT_EQ(Full(nullptr, u"f", kLinuxLike), u"\\home\\u\\f");
  EXPECT_EQ(Full(nullptr, u"/etc/p", kLinuxLike), u"\\etc\\p");
  EXPECT_EQ(Full(nullptr, u"../../..", kLinuxLike), u"\\");
  EXPECT_EQ(FullError(u"C:x", kLinuxLike), kErrInvalidParameter);
}

TEST(FullPath, Failures) {
  const current_directory_source_t none{NoCurrent, NoDrive};
  EXPECT_EQ(FullError(u"x", none), kErrInvalidParameter);
  EXPECT_EQ(FullError(u"\\\\server", kWindowsLike), kErrInvalidName);
  PoolFailNextAllocations(1);
  EXPECT_EQ(FullError(u"C:\\x", kWindowsLike), kErrOutOfMemory);
  PoolFailNextAllocations(0);
}

std::u16string Nt(const char16_t* full) {
  kd_mp_c pool;
  char16_t* native;
  err_t e = nt_path_from_full(&pool, full, &native);
  return e == kOk ? Str(native) : u"error";
}

std::u16string Posix(const char16_t* full) {
  kd_mp_c pool;
  char16_t* native;
  err_t e = posix_path_from_full(&pool, full, &native);
  return e == kOk ? Str(native) : u"error";
}

TEST(NativeForm, ObjectManagerPaths) {
  EXPECT_EQ(Nt(u"C:\\f"), u"\\??\\C:\\f");
  EXPECT_EQ(Nt(u"C:"), u"\\??\\C:");
  EXPECT_EQ(Nt(u"\\\\server\\share\\f"), u"\\??\\UNC\\server\\share\\f");
  EXPECT_EQ(Nt(u"\\\\?\\C:\\f"), u"\\??\\C:\\f");
  EXPECT_EQ(Nt(u"\\\\.\\NUL"), u"\\??\\NUL");
  EXPECT_EQ(Nt(u"\\\\=\\Device\\Null"), u"\\Device\\Null");
  EXPECT_EQ(Nt(u"rel\\x"), u"error");
  EXPECT_EQ(Nt(u"\\x"), u"error");
  EXPECT_EQ(Nt(u"C:x"), u"error");
}

TEST(NativeForm, LinuxPaths) {
  EXPECT_EQ(Posix(u"\\home\\x"), u"/home/x");
  EXPECT_EQ(Posix(u"\\"), u"/");
  EXPECT_EQ(Posix(u"C:\\x"), u"error");
  EXPECT_EQ(Posix(u"\\\\server\\share"), u"error");
  EXPECT_EQ(Posix(u"rel"), u"error");
}

TEST(NativeForm, LengthLimitIs65535Bytes) {
  std::u16string longest = u"\\" + std::u16string(kMaxNativePathUnits - 1, u'a');
  EXPECT_EQ(Posix(longest.c_str()).size(), kMaxNativePathUnits);
  EXPECT_EQ(Posix((longest + u"a").c_str()), u"error");
  std::u16string drive = u"C:\\" + std::u16string(kMaxNativePathUnits - 7, u'a');
  EXPECT_EQ(Nt(drive.c_str()).size(), kMaxNativePathUnits);
  EXPECT_EQ(Nt((drive + u"a").c_str()), u"error");
}

TEST(PathLastName, AfterTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(std::u16string(path_last_name(u"C:\\dir/sub\\setup.exe")), u"setup.exe");
  EXPECT_EQ(std::u16string(path_last_name(u"setup.exe")), u"setup.exe");
  EXPECT_EQ(std::u16string(path_last_name(u"dir\\")), u"");
}

}  // namespace
