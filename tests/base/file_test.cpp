// Files and directories on the real file system, in a scratch folder: opening by the portable
// flags, reading and writing, positions, times, listings, creating and deleting trees. Results
// are checked with std::filesystem, independently of the layer under test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/file_test_support.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileScratch;
using testing_support::ReadAll;
using testing_support::WriteAll;

TEST(OpenFile, CreateWriteReadBack) {
  FileScratch dir;
  std::u16string path = dir.Child("f.bin");
  file_handle_t h;
  ASSERT_EQ(open_file(&h, path.c_str(), kOpenCreateOrTruncate), kOk);
  EXPECT_FALSE(IsNoHandle(h));
  EXPECT_EQ(write_file(h, "hello world", 11, 0), kOk);
  EXPECT_EQ(close_handle(h), kOk);

  ASSERT_EQ(open_file(&h, path.c_str(), kOpenForReading), kOk);
  uint64_t size = 0;
  EXPECT_EQ(get_file_size(h, &size), kOk);
  EXPECT_EQ(size, 11u);
  uint64_t position = 99;
  EXPECT_EQ(move_file_pointer(h, 6, 0, &position), kOk);
  EXPECT_EQ(position, 6u);
  char buffer[32] = {};
  uint32_t count = 0;
  EXPECT_EQ(read_file(h, buffer, sizeof buffer, &count), kOk);
  EXPECT_EQ(std::string(buffer, count), "world");
  EXPECT_EQ(read_file(h, buffer, sizeof buffer, &count), kOk);
  EXPECT_EQ(count, 0u);  // end of the file
  EXPECT_EQ(move_file_pointer(h, -5, 2, nullptr), kOk);
  EXPECT_EQ(move_file_pointer(h, 1, 1, &position), kOk);
  EXPECT_EQ(position, 7u);
  EXPECT_EQ(move_file_pointer(h, 0, 3, &position), kErrInvalidParameter);
  EXPECT_EQ(close_handle(h), kOk);
}

TEST(OpenFile, CreateOrTruncateReplacesContent) {
  for (uint32_t flags : {kOpenCreateOrTruncate, kOpenCreateOrTruncate | kOpenNoFollow}) {
    FileScratch dir;
    std::u16string path = dir.Child("f.txt");
    WriteAll(dir.Native("f.txt"), "a long first content");
    file_handle_t h;
    ASSERT_EQ(open_file(&h, path.c_str(), flags), kOk);
    EXPECT_EQ(write_file(h, "new", 3, 0), kOk);
    EXPECT_EQ(close_handle(h), kOk);
    EXPECT_EQ(ReadAll(dir.Native("f.txt")), "new");
    ASSERT_EQ(open_file(&h, dir.Child("fresh").c_str(), flags), kOk);
    EXPECT_EQ(close_handle(h), kOk);
    EXPECT_TRUE(fs::is_regular_file(dir.Native("fresh")));
  }
}

// Files and directories are never reached through a link that already has their name, a
// dangling one included.
TEST(NoFollow, LinksAreRefusedNotWrittenThrough) {
  FileScratch dir;
  fs::create_directory(dir.Native("outside"));
  WriteAll(dir.Native("victim"), "precious");
  auto link = [&](const char* to, const char* name, bool directory) {
    return testing_support::MakeSymbolicLink(dir.Native(to).string(), dir.Native(name).string(),
                                             directory);
  };
  if (!link("outside", "dir_link", true) || !link("victim", "file_link", false) ||
      !link("absent", "dangling", false)) {
    GTEST_SKIP() << "would check that opening for writing refuses links to a directory, a file "
                    "and nothing; this system makes no symbolic links here (Wine cannot)";
  }
  for (const char* name : {"dir_link", "file_link", "dangling"}) {
    SCOPED_TRACE(name);
    file_handle_t h = 5;
    EXPECT_EQ(open_file(&h, dir.Child(name).c_str(), kOpenCreateOrTruncate | kOpenNoFollow),
              kErrCantResolveFilename);
    EXPECT_EQ(h, kNoHandle);
    EXPECT_EQ(create_directory_no_follow(dir.Child(name).c_str()), kErrCantResolveFilename);
  }
  EXPECT_EQ(ReadAll(dir.Native("victim")), "precious");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Native("absent"))));
  EXPECT_TRUE(fs::is_empty(dir.Native("outside")));
}

TEST(NoFollow, CreateDirectoryWithoutLinks) {
  FileScratch dir;
  EXPECT_EQ(create_directory_no_follow(dir.Child("d").c_str()), kOk);
  EXPECT_TRUE(fs::is_directory(dir.Native("d")));
  EXPECT_EQ(create_directory_no_follow(dir.Child("d").c_str()), kOk);  // exists already
  WriteAll(dir.Native("f"), "x");
  EXPECT_EQ(create_directory_no_follow(dir.Child("f").c_str()), kErrFileExists);
  EXPECT_EQ(create_directory_no_follow(dir.Child("no\\such").c_str()), kErrPathNotFound);
}

TEST(OpenFile, Failures) {
  FileScratch dir;
  file_handle_t h = 5;
  EXPECT_EQ(open_file(&h, dir.Child("missing").c_str(), kOpenForReading), kErrFileNotFound);
  EXPECT_EQ(h, kNoHandle);
  EXPECT_EQ(open_file(&h, dir.Child("no\\such").c_str(), kOpenForReading), kErrPathNotFound);
  EXPECT_EQ(open_file(&h, nullptr, kOpenForReading), kErrOutOfMemory);
  EXPECT_EQ(open_file(&h, u"", kOpenForReading), kErrInvalidName);
  EXPECT_EQ(h, kNoHandle);
}

TEST(OpenFile, WriterRefusedWhileAReaderDeniesWriting) {
  FileScratch dir;
  WriteAll(dir.Native("shared"), "keep me");
  std::u16string path = dir.Child("shared");
  file_handle_t reader, writer;
  ASSERT_EQ(open_file(&reader, path.c_str(), kOpenForExclusiveReading), kOk);
  EXPECT_EQ(open_file(&writer, path.c_str(), kOpenCreateOrTruncate), kErrSharingViolation);
  EXPECT_EQ(ReadAll(dir.Native("shared")), "keep me");  // the refused open truncated nothing
  file_handle_t second;
  ASSERT_EQ(open_file(&second, path.c_str(), kOpenForReading), kOk);  // readers share
  EXPECT_EQ(close_handle(second), kOk);
  EXPECT_EQ(close_handle(reader), kOk);
  ASSERT_EQ(open_file(&writer, path.c_str(), kOpenCreateOrTruncate), kOk);
  EXPECT_EQ(close_handle(writer), kOk);
}

TEST(Handles, NoHandleIsRefusedOrIgnored) {
  for (file_handle_t none : {file_handle_t{0}, kNoHandle}) {
    EXPECT_EQ(close_handle(none), kOk);
    EXPECT_EQ(move_file_pointer(none, 0, 0, nullptr), kErrInvalidHandle);
    uint64_t size = 1;
    EXPECT_EQ(get_file_size(none, &size), kErrInvalidHandle);
    EXPECT_EQ(set_write_time(none, 1), kErrInvalidHandle);
    EXPECT_EQ(set_creation_time(none, 1), kErrInvalidHandle);
    uint32_t count = 1;
    char byte;
    EXPECT_EQ(read_file(none, &byte, 1, &count), kErrInvalidHandle);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(write_file(none, "x", 1, 0), kErrInvalidHandle);
  }
}

TEST(Handles, NullDeviceSwallowsWritesAndReadsNothing) {
  file_handle_t h;
  ASSERT_EQ(open_null_device(&h), kOk);
  EXPECT_EQ(write_file(h, "gone", 4, 0), kOk);
  char byte;
  uint32_t count = 1;
  EXPECT_EQ(read_file(h, &byte, 1, &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(close_handle(h), kOk);
}

// 2001-02-03 04:05:06.7 UTC in 100 ns units since 1601.
constexpr uint64_t kSomeTime = 126255519067000000;

TEST(Times, WriteTimeIsSetAlone) {
  FileScratch dir;
  std::u16string path = dir.Child("t");
  file_handle_t h;
  ASSERT_EQ(open_file(&h, path.c_str(), kOpenCreateOrTruncate), kOk);
  EXPECT_EQ(set_write_time(h, kSomeTime), kOk);
  EXPECT_EQ(set_write_time(h, 0), kOk);  // 0 leaves it
  EXPECT_EQ(close_handle(h), kOk);
  file_entry_info_t info = dir.Info("t");
  EXPECT_EQ(info.write_time, kSomeTime);
  EXPECT_NE(info.access_time, kSomeTime);
}

TEST(Listing, NamesTypesAndSizes) {
  FileScratch dir;
  WriteAll(dir.Native("a.txt"), "12345");
  WriteAll(dir.Native("b"), "");
  fs::create_directory(dir.Native("sub"));
  directory_listing_t* listing;
  ASSERT_EQ(open_directory_listing(&listing, dir.path().c_str(), 0), kOk);
  std::set<std::u16string> names;
  const char16_t* path;
  size_t length;
  file_entry_info_t info;
  err_t e;
  while ((e = next_directory_entry(listing, &path, &length, &info)) == kOk) {
    std::u16string full(path, length);
    ASSERT_EQ(full.substr(0, dir.path().size() + 1), dir.path() + u"\\");
    std::u16string name = full.substr(dir.path().size() + 1);
    names.insert(name);
    EXPECT_EQ(info.is_directory, name == u"sub");
    EXPECT_EQ((info.attributes & kFileAttributeDirectory) != 0, name == u"sub");
    if (name == u"a.txt") {
      EXPECT_EQ(info.size, 5u);
    }
    EXPECT_NE(info.write_time, 0u);
  }
  EXPECT_EQ(e, kErrNoMoreFiles);
  EXPECT_EQ(next_directory_entry(listing, &path, &length, &info), kErrNoMoreFiles);
  close_directory_listing(listing);
  EXPECT_EQ(names, (std::set<std::u16string>{u"a.txt", u"b", u"sub"}));
}

TEST(Listing, MissingDirectory) {
  FileScratch dir;
  directory_listing_t* listing = reinterpret_cast<directory_listing_t*>(1);
  EXPECT_EQ(open_directory_listing(&listing, dir.Child("none").c_str(), 0), kErrFileNotFound);
  EXPECT_EQ(listing, nullptr);
  close_directory_listing(nullptr);
}

TEST(Exists, FilesAndDirectories) {
  FileScratch dir;
  WriteAll(dir.Native("f"), "x");
  bool is_directory = true;
  EXPECT_EQ(query_exists(dir.Child("f").c_str(), &is_directory), kOk);
  EXPECT_FALSE(is_directory);
  EXPECT_EQ(query_exists(dir.path().c_str(), &is_directory), kOk);
  EXPECT_TRUE(is_directory);
  EXPECT_EQ(query_exists(dir.Child("g").c_str(), nullptr), kErrFileNotFound);
  EXPECT_EQ(query_exists(dir.Child("g\\h").c_str(), &is_directory), kErrPathNotFound);
  EXPECT_FALSE(is_directory);
}

TEST(CreateDirectoryTree, MakesEveryMissingParent) {
  FileScratch dir;
  EXPECT_EQ(create_directory_tree(dir.Child("a\\b/c\\").c_str()), kOk);
  EXPECT_TRUE(fs::is_directory(dir.Native("a/b/c")));
  EXPECT_EQ(create_directory_tree(dir.Child("a\\b\\c").c_str()), kOk);  // exists already
  EXPECT_EQ(create_directory_tree(dir.Child("a\\b\\d").c_str()), kOk);
  EXPECT_TRUE(fs::is_directory(dir.Native("a/b/d")));
}

TEST(CreateDirectoryTree, FileInTheWay) {
  FileScratch dir;
  WriteAll(dir.Native("f"), "x");
  EXPECT_EQ(create_directory_tree(dir.Child("f").c_str()), kErrFileExists);
  EXPECT_EQ(create_directory_tree(dir.Child("f\\sub\\deeper").c_str()), kErrPathNotFound);
  EXPECT_EQ(ReadAll(dir.Native("f")), "x");
}

TEST(DeletePath, OnePathAtATime) {
  FileScratch dir;
  WriteAll(dir.Native("f"), "x");
  fs::create_directories(dir.Native("d/e"));
  EXPECT_EQ(delete_path(dir.Child("f").c_str()), kOk);
  EXPECT_FALSE(fs::exists(dir.Native("f")));
  EXPECT_EQ(delete_path(dir.Child("f").c_str()), kErrFileNotFound);
  EXPECT_EQ(delete_path(dir.Child("d").c_str()), kErrDirNotEmpty);
  EXPECT_EQ(delete_path(dir.Child("d\\e").c_str()), kOk);
  EXPECT_EQ(delete_path(dir.Child("d").c_str()), kOk);
  EXPECT_FALSE(fs::exists(dir.Native("d")));
}

TEST(DeletePath, ReadOnlyFile) {
  FileScratch dir;
  WriteAll(dir.Native("ro"), "x");
  fs::permissions(dir.Native("ro"), fs::perms::owner_write | fs::perms::group_write |
                  fs::perms::others_write, fs::perm_options::remove);
  EXPECT_EQ(delete_path(dir.Child("ro").c_str()), kOk);
  EXPECT_FALSE(fs::exists(dir.Native("ro")));
}

TEST(DeleteTree, WholeTreeWithReadOnlyFile) {
  FileScratch dir;
  fs::create_directories(dir.Native("t/a/b"));
  fs::create_directories(dir.Native("t/empty"));
  WriteAll(dir.Native("t/top"), "1");
  WriteAll(dir.Native("t/a/b/ro"), "2");
  fs::permissions(dir.Native("t/a/b/ro"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(delete_tree(dir.Child("t").c_str()), kOk);
  EXPECT_FALSE(fs::exists(dir.Native("t")));
  EXPECT_TRUE(fs::is_directory(dir.Native("")));
}

TEST(DeleteTree, MissingPathAndSingleFile) {
  FileScratch dir;
  EXPECT_EQ(delete_tree(dir.Child("missing").c_str()), kOk);
  EXPECT_EQ(delete_tree(dir.Child("missing\\deeper").c_str()), kOk);
  WriteAll(dir.Native("f"), "x");
  EXPECT_EQ(delete_tree(dir.Child("f").c_str()), kOk);
  EXPECT_FALSE(fs::exists(dir.Native("f")));
}

TEST(DeleteTree, EmptyPathIsNotTheCurrentDirectory) {
  FileScratch dir;
  WriteAll(dir.Native("f"), "x");
  fs::path saved = fs::current_path();
  fs::current_path(dir.Native(""));  // should the guard fail, only the scratch folder goes
  err_t empty = delete_tree(u"");
  err_t null = delete_tree(nullptr);
  fs::current_path(saved);
  EXPECT_EQ(empty, kErrInvalidName);
  EXPECT_EQ(null, kErrInvalidName);
  EXPECT_TRUE(fs::exists(dir.Native("f")));
}

TEST(DeleteTree, DeeperThanTheOpenLevels) {
  FileScratch dir;
  std::u16string deep = dir.Child("n");
  for (int i = 0; i < 130; ++i) deep += u"\\d";
  ASSERT_EQ(create_directory_tree(deep.c_str()), kOk);
  // Files at several depths, the deepest below the 100 open levels.
  std::u16string level = dir.Child("n");
  for (int i = 0; i <= 130; ++i, level += u"\\d") {
    if (i % 40 != 10) continue;
    file_handle_t h;
    ASSERT_EQ(open_file(&h, (level + u"\\f").c_str(), kOpenCreateOrTruncate), kOk);
    EXPECT_EQ(close_handle(h), kOk);
  }
  EXPECT_EQ(delete_tree(dir.Child("n").c_str()), kOk);
  EXPECT_EQ(query_exists(dir.Child("n").c_str(), nullptr), kErrFileNotFound);
}

// Work below a directory handle: everything is made new, nothing at a name is ever followed.
class BelowAHandle : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(open_directory(&top, dir.Child("").c_str()), kOk); }
  void TearDown() override {
    close_handle(top);
    tree_delete_test_hook = nullptr;
  }
  FileScratch dir;
  file_handle_t top = kNoHandle;
};

TEST_F(BelowAHandle, EntriesAreMadeNewAndNeverTwice) {
  file_handle_t sub, file, again;
  ASSERT_EQ(create_directory_at(&sub, top, u"sub"), kOk);
  ASSERT_EQ(create_file_at(&file, sub, u"f"), kOk);
  ASSERT_EQ(write_file(file, "bytes", 5, 0), kOk);
  file_handle_t reader;
  ASSERT_EQ(reopen_for_reading(&reader, file), kOk);
  EXPECT_EQ(close_handle(file), kOk);
  char read[8] = {};
  uint32_t count = 0;
  EXPECT_EQ(read_file_at(reader, 0, read, sizeof read, &count), kOk);
  EXPECT_EQ(std::string(read, count), "bytes");
  close_handle(reader);
  EXPECT_EQ(create_file_at(&again, sub, u"f"), kErrFileExists);
  EXPECT_EQ(create_directory_at(&again, sub, u"f"), kErrFileExists);
  EXPECT_EQ(create_directory_at(&again, top, u"sub"), kErrFileExists);
  EXPECT_EQ(ReadAll(dir.Native("sub/f")), "bytes");
  for (const char16_t* bad : {u"", u".", u"..", u"a\\b", u"a/b"}) {
    EXPECT_EQ(create_file_at(&again, sub, bad), kErrInvalidName);
    EXPECT_EQ(create_directory_at(&again, sub, bad), kErrInvalidName);
  }
  EXPECT_EQ(check_still_named(top, u"sub", sub), kOk);
  close_handle(sub);
}

TEST_F(BelowAHandle, LinksAtANameAreNeverFollowed) {
  fs::create_directory(dir.Native("elsewhere"));
  if (!testing_support::MakeSymbolicLink(dir.Native("elsewhere").string(), dir.Native("dlink").string(), true) ||
      !testing_support::MakeSymbolicLink(dir.Native("absent").string(), dir.Native("dangling").string(), false)) {
    GTEST_SKIP() << "would check that creating below a handle never follows a link at the name; "
                    "this system makes no symbolic links here (Wine cannot)";
  }
  file_handle_t h;
  EXPECT_EQ(create_file_at(&h, top, u"dangling"), kErrFileExists);
  EXPECT_EQ(create_directory_at(&h, top, u"dlink"), kErrFileExists);
  EXPECT_FALSE(fs::exists(dir.Native("absent")));
  EXPECT_TRUE(fs::is_empty(dir.Native("elsewhere")));
}

// A directory swapped for a link to a canary after it was made, or while the tree delete walks
// it: the handle still holds the directory made, so the canary is neither written nor emptied.
TEST_F(BelowAHandle, ASwappedDirectoryIsNeverWorkedThrough) {
  fs::create_directories(dir.Native("canary"));
  WriteAll(dir.Native("canary/keep"), "alive");
  file_handle_t tree, sub;
  ASSERT_EQ(create_directory_at(&tree, top, u"tree"), kOk);
  ASSERT_EQ(create_directory_at(&sub, tree, u"sub"), kOk);
  std::error_code moved;
  fs::rename(dir.Native("tree/sub"), dir.Native("tree/sub.moved"), moved);
  if (moved || !testing_support::MakeSymbolicLink(dir.Native("canary").string(), dir.Native("tree/sub").string(), true)) {
    // Windows: a directory held open without delete sharing cannot be renamed at all.
    close_handle(sub);
    close_handle(tree);
    GTEST_SKIP() << "would check that a directory swapped for a link after it was opened is "
                    "never worked through; a held directory cannot be swapped here (Windows)";
  }
  EXPECT_EQ(check_still_named(tree, u"sub", sub), kErrCantResolveFilename);
  file_handle_t file;
  ASSERT_EQ(create_file_at(&file, sub, u"keep"), kOk);  // lands in sub.moved
  close_handle(file);
  close_handle(sub);
  EXPECT_EQ(ReadAll(dir.Native("canary/keep")), "alive");

  fs::remove(dir.Native("tree/sub"));
  fs::rename(dir.Native("tree/sub.moved"), dir.Native("tree/sub"));
  static FileScratch* scratch;
  scratch = &dir;
  tree_delete_test_hook = [](file_handle_t, const char16_t* name) {
    if (std::u16string(name) != u"sub") return;
    fs::rename(scratch->Native("tree/sub"), scratch->Native("tree/sub.moved"));
    testing_support::MakeSymbolicLink(scratch->Native("canary").string(), scratch->Native("tree/sub").string(), true);
  };
  delete_tree_below(tree);
  close_handle(tree);
  EXPECT_EQ(ReadAll(dir.Native("canary/keep")), "alive");
  EXPECT_FALSE(fs::exists(dir.Native("tree/sub.moved/keep")));
}

}  // namespace

namespace testing_support {

namespace {
// Scratch paths are ASCII; separators become backslashes.
std::u16string Widen(const std::string& text) {
  std::u16string out;
  for (char c : text) out += c == '/' ? u'\\' : char16_t(static_cast<unsigned char>(c));
  return out;
}
}  // namespace

FileScratch::FileScratch() : path_(Widen(dir_.path())) {}

std::u16string FileScratch::Child(const std::string& relative) const {
  return path_ + u"\\" + Widen(relative);
}

std::filesystem::path FileScratch::Native(const std::string& relative) const {
  return relative.empty() ? std::filesystem::path(dir_.path())
                          : std::filesystem::path(dir_.path()) / relative;
}

file_entry_info_t FileScratch::Info(const std::string& name) const {
  std::u16string wanted = Child(name);
  file_entry_info_t info{}, found{};
  directory_listing_t* listing;
  if (open_directory_listing(&listing, path_.c_str(), 0) != kOk) return found;
  const char16_t* path;
  size_t length;
  while (next_directory_entry(listing, &path, &length, &info) == kOk) {
    if (std::u16string(path, length) == wanted) found = info;
  }
  close_directory_listing(listing);
  return found;
}

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

}  // namespace testing_support
