// The Linux flavour of the file layer: symbolic links met by the tree delete, the errno table,
// native paths from the process's current directory, descriptor 0, and what Linux cannot set.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/file_test_support.h"
#include "base/pool.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileScratch;
using testing_support::ReadAll;
using testing_support::WriteAll;

TEST(DeleteTreePosix, LinksToOutsideAreRemovedNotFollowed) {
  FileScratch dir;
  fs::create_directories(dir.Native("outside/inner"));
  WriteAll(dir.Native("outside/keep"), "precious");
  fs::create_directories(dir.Native("tree/sub"));
  fs::create_directory_symlink(dir.Native("outside"), dir.Native("tree/sub/dirlink"));
  fs::create_symlink(dir.Native("outside/keep"), dir.Native("tree/filelink"));
  fs::create_symlink(dir.Native("nowhere"), dir.Native("tree/dangling"));
  EXPECT_EQ(delete_tree(dir.Child("tree").c_str()), kOk);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Native("tree"))));
  EXPECT_EQ(ReadAll(dir.Native("outside/keep")), "precious");
  EXPECT_TRUE(fs::is_directory(dir.Native("outside/inner")));
}

TEST(DeleteTreePosix, TreeThatIsALinkLosesOnlyTheLink) {
  FileScratch dir;
  fs::create_directories(dir.Native("real/sub"));
  fs::create_directory_symlink(dir.Native("real"), dir.Native("link"));
  EXPECT_EQ(delete_tree(dir.Child("link").c_str()), kOk);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Native("link"))));
  EXPECT_TRUE(fs::is_directory(dir.Native("real/sub")));
}

TEST(ListingPosix, LinksAreReparsePointsAndNotDirectories) {
  FileScratch dir;
  fs::create_directory(dir.Native("d"));
  fs::create_directory_symlink(dir.Native("d"), dir.Native("l"));
  file_entry_info_t link = dir.Info("l");
  EXPECT_FALSE(link.is_directory);
  EXPECT_TRUE(link.attributes & kFileAttributeReparsePoint);
  EXPECT_FALSE(dir.Info("d").attributes & kFileAttributeReparsePoint);

  directory_listing_t* listing = nullptr;
  EXPECT_EQ(open_directory_listing(&listing, dir.Child("l").c_str(), kListNoFollow),
            kErrCantResolveFilename);
  ASSERT_EQ(open_directory_listing(&listing, dir.Child("l").c_str(), 0), kOk);
  close_directory_listing(listing);
}

TEST(ErrnoTable, WindowsCodes) {
  EXPECT_EQ(errno_to_error(ENOENT), kErrFileNotFound);
  EXPECT_EQ(errno_to_error(ENOTDIR), kErrPathNotFound);
  EXPECT_EQ(errno_to_error(EEXIST), kErrFileExists);
  EXPECT_EQ(errno_to_error(EACCES), kErrAccessDenied);
  EXPECT_EQ(errno_to_error(EPERM), kErrAccessDenied);
  EXPECT_EQ(errno_to_error(ENOTEMPTY), kErrDirNotEmpty);
  EXPECT_EQ(errno_to_error(EBADF), kErrInvalidHandle);
  EXPECT_EQ(errno_to_error(ENOSPC), kErrDiskFull);
  EXPECT_EQ(errno_to_error(ENAMETOOLONG), kErrFilenameTooLong);
  EXPECT_EQ(errno_to_error(ELOOP), kErrCantResolveFilename);
  EXPECT_EQ(errno_to_error(EWOULDBLOCK), kErrBusy);
  EXPECT_EQ(errno_to_error(0x7fff), kErrGenFailure);  // no such errno
}

TEST(ErrnoTable, MissingFileOrMissingParent) {
  FileScratch dir;
  std::string base = dir.Native("").string();
  EXPECT_EQ(path_errno_to_error(ENOENT, (base + "/missing").c_str()), kErrFileNotFound);
  EXPECT_EQ(path_errno_to_error(ENOENT, (base + "/no/missing").c_str()), kErrPathNotFound);
  EXPECT_EQ(path_errno_to_error(ENOENT, "relative"), kErrFileNotFound);
  EXPECT_EQ(path_errno_to_error(EACCES, (base + "/no/missing").c_str()), kErrAccessDenied);
}

std::u16string Native(const char16_t* path, err_t* e) {
  kd_mp_c pool;
  char16_t* native = nullptr;
  *e = native_path(&pool, path, &native);
  return native ? native : u"";
}

TEST(NativePathPosix, FromCurrentDirectoryAndDrives) {
  FileScratch dir;
  std::string saved = fs::current_path().string();
  ASSERT_EQ(chdir(dir.Native("").c_str()), 0);
  err_t e;
  std::u16string native = Native(u"x\\y", &e);
  ASSERT_EQ(chdir(saved.c_str()), 0);
  EXPECT_EQ(e, kOk);
  std::u16string expected;
  for (char c : dir.Native("x/y").string()) expected += char16_t(c);
  EXPECT_EQ(native, expected);

  EXPECT_EQ(Native(u"\\etc\\.\\passwd", &e), u"/etc/passwd");
  EXPECT_EQ(Native(u"C:\\x", &e), u"");
  EXPECT_EQ(e, kErrInvalidName);
  Native(u"C:x", &e);
  EXPECT_EQ(e, kErrInvalidName);
  Native(u"\\\\server\\share\\x", &e);
  EXPECT_EQ(e, kErrInvalidName);
}

TEST(OpenFilePosix, NeverHandsOutDescriptorZero) {
  FileScratch dir;
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  file_handle_t h = kNoHandle;
  err_t e = open_file(&h, dir.Child("f").c_str(), kOpenCreateOrTruncate);
  file_handle_t null_device = kNoHandle;
  close(0);
  err_t null_e = open_null_device(&null_device);
  dup2(saved, 0);
  close(saved);
  EXPECT_EQ(e, kOk);
  EXPECT_FALSE(IsNoHandle(h));
  EXPECT_EQ(null_e, kOk);
  EXPECT_FALSE(IsNoHandle(null_device));
  EXPECT_EQ(close_handle(h), kOk);
  EXPECT_EQ(close_handle(null_device), kOk);
}

TEST(TimesPosix, CreationTimeCannotBeSet) {
  FileScratch dir;
  file_handle_t h;
  ASSERT_EQ(open_file(&h, dir.Child("f").c_str(), kOpenCreateOrTruncate), kOk);
  EXPECT_EQ(set_creation_time(h, 126255519067000000), kErrNotSupported);
  EXPECT_EQ(set_write_time(h, 116444736000000000 - 10000000), kOk);  // before 1970
  EXPECT_EQ(close_handle(h), kOk);
  EXPECT_EQ(dir.Info("f").write_time, 116444736000000000u - 10000000u);
}

}  // namespace
