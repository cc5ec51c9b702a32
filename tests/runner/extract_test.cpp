// Extraction over a volume built in memory: what lands on disk (names, sizes, bytes, times),
// how the volume is called, the depth limit, the bounds and the name rule that keeps every
// write inside the target, and the close queue under failing worker starts.
#include "runner/extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "base/file.h"
#include "base/pool.h"
#include "base/thread.h"
#include "support/test_support.h"
#include "tests/runner/fake_volume.h"

namespace {

namespace fs = std::filesystem;
using extract_test::FakeVolume;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// What a folder holds, by relative name: "d" for a directory, else the file's bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) {
      tree[name] = "d";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      tree[name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return tree;
}

// The write time the file layer reports for one entry of a folder.
uint64_t WriteTime(const std::string& folder, const std::string& name) {
  directory_listing_t* listing;
  if (open_directory_listing(&listing, Wide(folder).c_str(), 0) != kOk) return 0;
  const char16_t* path;
  size_t length;
  file_entry_info_t info;
  uint64_t time = 0;
  while (next_directory_entry(listing, &path, &length, &info) == kOk) {
    std::u16string p(path, length);
    if (p.size() >= name.size() && p.substr(p.size() - name.size()) == Wide(name)) time = info.write_time;
  }
  close_directory_listing(listing);
  return time;
}

class ExtractTest : public testing::Test {
 protected:
  err_t Extract(const std::string& name = "out") {
    target = (fs::path(scratch.path()) / name).string();
    ExtractOptions options;
    return extract_volume(Wide(target).c_str(), &volume, options);
  }
  // Everything in the scratch folder besides the target.
  std::vector<std::string> Outside() {
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(scratch.path()))
      if (entry.path().filename() != fs::path(target).filename()) names.push_back(entry.path().string());
    return names;
  }

  testing_support::ScratchDir scratch;
  FakeVolume volume;
  std::string target;
};

TEST_F(ExtractTest, EmptyVolumeMakesOnlyTheTarget) {
  ASSERT_EQ(Extract("a/b/out"), kOk);
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_TRUE(Tree(target).empty());
  EXPECT_EQ(volume.registered(), 0u);
}

TEST_F(ExtractTest, CopiesTheTreeWithSizesBytesAndTimes) {
  std::string big(kExtractCopyBufferSize + 1, 'x');
  big.back() = 'y';
  size_t docs = volume.AddDirectory(0, "docs");
  volume.Add(docs, "readme.txt", kSeTypeFile, "hello");
  size_t empty = volume.Add(docs, "empty", kSeTypeFile);
  volume.node(empty).modification_time = 130000000000000000;
  size_t nested = volume.AddDirectory(docs, "nested");
  volume.AddDirectory(nested, "leaf");
  size_t data = volume.Add(0, "data.bin", kSeTypeFile, big);
  volume.node(data).modification_time = 132000000000000000;
  volume.node(data).creation_time = 131000000000000000;
  volume.Add(0, "\xC3\xBC" "ber", kSeTypeFile, "umlaut");

  ASSERT_EQ(Extract(), kOk);
  std::map<std::string, std::string> want = {
      {"docs", "d"}, {"docs/readme.txt", "hello"}, {"docs/empty", ""}, {"docs/nested", "d"},
      {"docs/nested/leaf", "d"}, {"data.bin", big}, {"\xC3\xBC" "ber", "umlaut"}};
  EXPECT_EQ(Tree(target), want);
  EXPECT_EQ(WriteTime(target, "data.bin"), 132000000000000000u);
  EXPECT_EQ(WriteTime(target + "/docs", "empty"), 130000000000000000u);
  // 262,145 bytes come in two reads: a whole buffer, then one byte.
  auto& reads = volume.read_lengths;
  auto whole = std::find(reads.begin(), reads.end(), kExtractCopyBufferSize);
  ASSERT_NE(whole, reads.end());
  EXPECT_EQ(std::count(reads.begin(), reads.end(), kExtractCopyBufferSize), 1);
  EXPECT_EQ(*(whole + 1), 1u);
}

TEST_F(ExtractTest, HandsOutFreshIdsAndForgetsEverything) {
  size_t d = volume.AddDirectory(0, "d");
  volume.Add(d, "f", kSeTypeFile, "1");
  ASSERT_EQ(Extract(), kOk);
  // Root lookup 1, its stream 2, "d" 3, its stream 4, "d/f" 5.
  EXPECT_EQ(volume.ids_offered, (std::vector<uint64_t>{1, 3, 5}));
  EXPECT_EQ(volume.registered(), 0u);
  EXPECT_EQ(volume.open_streams(), 0u);
  EXPECT_EQ(volume.strings_out, 0);
}

TEST_F(ExtractTest, ShortReadsArePaddedWithZeros) {
  size_t f = volume.Add(0, "f", kSeTypeFile, "abc");
  volume.node(f).size = 10;
  volume.max_read = 2;
  ASSERT_EQ(Extract(), kOk);
  EXPECT_EQ(Tree(target)["f"], std::string("ab\0\0\0\0\0\0\0\0", 10));
}

TEST_F(ExtractTest, OtherEntryTypesAreSkipped) {
  volume.Add(0, "link", 7, "x");
  volume.Add(0, "kept", kSeTypeFile, "k");
  ASSERT_EQ(Extract(), kOk);
  EXPECT_EQ(Tree(target), (std::map<std::string, std::string>{{"kept", "k"}}));
}

// 49 levels below the root are extracted; the next level would be lost, so it is an error.
TEST_F(ExtractTest, TreesNestedDeeperThanTheBoundFail) {
  size_t at = 0;
  for (int depth = 1; depth <= 49; ++depth) at = volume.AddDirectory(at, "d");
  ASSERT_EQ(Extract("fits"), kOk);
  std::string path = target;
  for (int depth = 1; depth <= 49; ++depth) path += "/d";
  EXPECT_TRUE(fs::is_directory(path));

  volume.Add(at, "too-deep", kSeTypeFile, "x");
  EXPECT_EQ(Extract("too-deep"), kErrStackOverflow);
  EXPECT_EQ(volume.registered(), 0u);
  EXPECT_EQ(volume.open_streams(), 0u);
}

// "\xC1\xB8" is an overlong form of "x": another name to the volume, the same one on disk.
TEST_F(ExtractTest, AFileThatCannotBeCreatedStopsTheWalk) {
  volume.AddDirectory(0, "x");
  volume.Add(0, "\xC1\xB8", kSeTypeFile, "cannot replace a directory");
  volume.Add(0, "later", kSeTypeFile, "never written");
  EXPECT_NE(Extract(), kOk);
  EXPECT_FALSE(fs::exists(target + "/later"));
  EXPECT_EQ(volume.registered(), 0u);
}

TEST_F(ExtractTest, ADirectoryWhereAFileIsFailsWithFileExists) {
  volume.Add(0, "x", kSeTypeFile, "a file");
  volume.AddDirectory(0, "\xC1\xB8");
  EXPECT_EQ(Extract(), kErrFileExists);
}

TEST_F(ExtractTest, UnsafeNamesFailBeforeAnythingIsWrittenForThem) {
  for (std::string name : {"..", ".", "", "a/b", "a\\b", "c:x", "..\\escape", "\xC0\xAE\xC0\xAE",
                           "x\xC0\x80y", "\xC0\xAF" "etc"}) {
    SCOPED_TRACE(name);
    FakeVolume hostile;
    size_t d = hostile.AddDirectory(0, "d");
    hostile.Add(d, name, kSeTypeFile, "payload");
    hostile.Add(d, "after", kSeTypeFile, "after");
    target = (fs::path(scratch.path()) / "out").string();
    ExtractOptions options;
    EXPECT_EQ(extract_volume(Wide(target).c_str(), &hostile, options), kErrInvalidName);
    EXPECT_EQ(Tree(target), (std::map<std::string, std::string>{{"d", "d"}}));
    EXPECT_TRUE(Outside().empty());
    fs::remove_all(target);
  }
}

// Links already below an existing target are never written through: a directory link in the
// way of a directory or a file, a file link, a dangling one; each has the name already, so the
// entry fails with 80. The target itself may be a link.
TEST_F(ExtractTest, LinksBelowTheTargetAreRefusedNotFollowed) {
  fs::path root = scratch.path(), outside = root / "elsewhere", victim = root / "victim";
  fs::create_directory(outside);
  std::ofstream(victim) << "precious";
  struct Case {
    const char* name;
    fs::path to;
    bool directory_link;
    uint8_t entry_type;
  };
  const Case cases[] = {{"sub", outside, true, kSeTypeDirectory},
                        {"sub", outside, true, kSeTypeFile},
                        {"a.txt", victim, false, kSeTypeFile},
                        {"new.txt", root / "absent", false, kSeTypeFile}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVolume image;
    size_t entry = image.Add(0, c.name, c.entry_type, c.entry_type == kSeTypeFile ? "payload" : "");
    if (c.entry_type == kSeTypeDirectory) image.Add(entry, "b.txt", kSeTypeFile, "payload");
    target = (root / "out").string();
    fs::create_directory(target);
    fs::path link = fs::path(target) / c.name;
    if (!testing_support::MakeSymbolicLink(c.to.string(), link.string(), c.directory_link))
      GTEST_SKIP() << "would check that links below the target are refused, not followed; this "
                      "system makes no symbolic links here (Wine cannot)";
    EXPECT_EQ(extract_volume(Wide(target).c_str(), &image, ExtractOptions{}), kErrFileExists);
    fs::remove_all(target);
  }
  std::ifstream in(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "absent")));

  volume.Add(0, "kept.txt", kSeTypeFile, "kept");
  target = (root / "target-link").string();
  ASSERT_TRUE(testing_support::MakeSymbolicLink(outside.string(), target, true));
  ASSERT_EQ(extract_volume(Wide(target).c_str(), &volume, ExtractOptions{}), kOk);
  EXPECT_EQ(Tree(outside), (std::map<std::string, std::string>{{"kept.txt", "kept"}}));
}

TEST_F(ExtractTest, ImagesThatClaimMoreThanTheyHoldAreCorrupt) {
  size_t f = volume.Add(0, "huge", kSeTypeFile);
  volume.node(f).size = 1ull << 40;
  volume.image_size = 1 << 20;
  EXPECT_EQ(Extract(), kErrBadFormat);
  EXPECT_FALSE(fs::exists(target + "/huge"));

  // Entries beyond what the image has room for: a directory listing itself forever.
  FakeVolume looping;
  looping.image_size = 64 * 32;
  for (int i = 0; i < 100; ++i) looping.Add(0, "f" + std::to_string(i), kSeTypeFile, "");
  target = (fs::path(scratch.path()) / "loop").string();
  EXPECT_EQ(extract_volume(Wide(target).c_str(), &looping, ExtractOptions{}), kErrBadFormat);
}

TEST_F(ExtractTest, ProgressCountsEveryByteWritten) {
  volume.Add(0, "a", kSeTypeFile, std::string(1000, 'a'));
  volume.Add(0, "b", kSeTypeFile, std::string(kExtractCopyBufferSize + 5, 'b'));
  std::vector<uint64_t> seen;
  ExtractOptions options;
  options.progress = [](void* context, uint64_t bytes) {
    static_cast<std::vector<uint64_t>*>(context)->push_back(bytes);
  };
  options.progress_context = &seen;
  target = (fs::path(scratch.path()) / "out").string();
  ASSERT_EQ(extract_volume(Wide(target).c_str(), &volume, options), kOk);
  EXPECT_EQ(seen, (std::vector<uint64_t>{1000, 1000 + kExtractCopyBufferSize, 1000 + kExtractCopyBufferSize + 5}));
}

TEST_F(ExtractTest, AStopPinEndsTheExtractionBeforeTheNextWrite) {
  volume.Add(0, "a", kSeTypeFile, std::string(kExtractCopyBufferSize + 1, 'a'));
  volume.Add(0, "b", kSeTypeFile, "b");
  kdsync_pin_c stop;
  ExtractOptions options;
  options.stop = &stop;
  options.progress = [](void* pin, uint64_t) { static_cast<pin_i*>(pin)->trigger(); };
  options.progress_context = &stop;
  target = (fs::path(scratch.path()) / "out").string();
  EXPECT_EQ(extract_volume(Wide(target).c_str(), &volume, options), kErrCancelled);
  // One buffer of "a" was written when the pin triggered; "b" never began.
  EXPECT_EQ(Tree(target), (std::map<std::string, std::string>{{"a", std::string(kExtractCopyBufferSize, 'a')}}));
}

TEST_F(ExtractTest, ManyFilesAreAllClosedEvenWhenNoWorkerStarts) {
  for (int i = 0; i < 40; ++i) volume.Add(0, "f" + std::to_string(i), kSeTypeFile, std::string(i, 'z'));
  ASSERT_EQ(Extract("with-workers"), kOk);
  ThreadFailNextStarts(1000);
  err_t e = Extract("without-workers");
  ThreadFailNextStarts(0);
  ASSERT_EQ(e, kOk);
  auto tree = Tree(target);
  ASSERT_EQ(tree.size(), 40u);
  EXPECT_EQ(tree["f39"], std::string(39, 'z'));
  // Every handle is closed: the whole tree can go at once.
  EXPECT_EQ(delete_tree(Wide(scratch.path()).c_str()), kOk);
}

TEST(ExtractName, WindowsRefusesWhatItsWin32LayerCannotHold) {
  auto holdable = [](const std::u16string& name) { return windows_name_is_holdable(name.c_str(), uint32_t(name.size())); };
  for (const char16_t* good : {u"setup.exe", u"CONSOLE.txt", u"COM0", u"LPT10", u"nul2.txt", u"a b", u".hidden", u"COM1x.txt"})
    EXPECT_TRUE(holdable(good)) << std::string(good, good + std::char_traits<char16_t>::length(good));
  for (const char16_t* bad : {u"CON", u"con.txt", u"Prn.tar.gz", u"AUX", u"nul.", u"COM1", u"com9.log", u"LPT1", u"lpt9.x", u"CON .txt", u"COM\u00B9",
                              u"name.", u"name ", u"a<b", u"a>b", u"a\"b", u"a|b", u"a?b", u"a*b", u"a:b", u"tab\there"})
    EXPECT_FALSE(holdable(bad)) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
}

void KeepPath(void* context, const char16_t* path) {
  *static_cast<std::string*>(context) = std::string(path, path + std::char_traits<char16_t>::length(path));
}

// Two entries of one name (or case twins where the system folds case): the second never
// overwrites the first, and the failure names it.
TEST_F(ExtractTest, ASecondEntryOfTheSameNameFailsAndIsNamed) {
  size_t sub = volume.Add(0, "sub", kSeTypeDirectory);
  volume.Add(sub, "setup.exe", kSeTypeFile, "first");
  volume.Add(sub, "setup.exe", kSeTypeFile, "second");
  std::string failed;
  ExtractOptions options;
  options.on_failure = KeepPath;
  options.failure_context = &failed;
  target = (fs::path(scratch.path()) / "out").string();
  EXPECT_EQ(extract_volume(Wide(target).c_str(), &volume, options), kErrFileExists);
  EXPECT_EQ(failed, "sub\\setup.exe");
  EXPECT_EQ(Tree(target)["sub/setup.exe"], "first");
}

// A test hook between writes swaps a directory already made for a link to a canary: the rest
// of its files go to the directory made (wherever it was moved), and the extraction fails.
struct Swap {
  std::string dir, canary;
  bool done = false, refused = false;
};

void SwapOnFirstWrite(void* context, uint64_t) {
  auto* swap = static_cast<Swap*>(context);
  if (swap->done) return;
  swap->done = true;
  std::error_code error;
  fs::rename(swap->dir, swap->dir + ".moved", error);
  swap->refused = error || !testing_support::MakeSymbolicLink(swap->canary, swap->dir, true);
}

TEST_F(ExtractTest, ADirectorySwappedForALinkIsNeverWrittenThrough) {
  fs::path canary = fs::path(scratch.path()) / "canary";
  fs::create_directory(canary);
  size_t sub = volume.Add(0, "sub", kSeTypeDirectory);
  volume.Add(sub, "a", kSeTypeFile, "first");
  volume.Add(sub, "b", kSeTypeFile, "second");
  target = (fs::path(scratch.path()) / "out").string();
  Swap swap{target + "/sub", canary.string()};
  ExtractOptions options;
  options.progress = SwapOnFirstWrite;
  options.progress_context = &swap;
  err_t e = extract_volume(Wide(target).c_str(), &volume, options);
  EXPECT_TRUE(fs::is_empty(canary));
  // Windows holds every directory it fills without delete sharing: there the swap cannot happen.
  if (swap.refused) {
    EXPECT_EQ(e, kOk);
  } else {
    EXPECT_EQ(e, kErrCantResolveFilename);
    EXPECT_EQ(Tree(target + "/sub.moved")["b"], "second");
  }
}

TEST(ExtractFile, TakesOneEntryPerListingAndRefusesASecond) {
  SePathComponent slot{};
  Extract::File file(&slot);
  SeEntryInfo info{kSeTypeFile, 0, 0, 42, 0, 0, 7, 0};
  bool more = true;
  EXPECT_TRUE(file.OnEntry(&info, "n\xC3\xA4me", &more));
  EXPECT_FALSE(more);
  EXPECT_EQ(std::string(slot.utf8_name, slot.utf8_length), "n\xC3\xA4me");
  EXPECT_EQ(std::u16string(slot.wide_name, slot.wide_length), u"n\u00E4me");
  EXPECT_EQ(file.info.size, 42u);
  more = true;
  SeEntryInfo other{kSeTypeDirectory, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(file.OnEntry(&other, "second", &more));
  EXPECT_FALSE(more);
  EXPECT_EQ(file.info.type, kSeTypeFile);
}

TEST(ExtractFile, APoolFailureIsReportedNotTakenForTheEnd) {
  SePathComponent slot{};
  Extract::File file(&slot);
  SeEntryInfo info{kSeTypeFile, 0, 0, 1, 0, 0, 0, 0};
  bool more = true;
  PoolFailNextAllocations(1);
  bool taken = file.OnEntry(&info, "name", &more);
  PoolFailNextAllocations(0);
  // Taken, so the listing moves on, and flagged, so the walk fails with 14 instead of ending.
  EXPECT_TRUE(taken);
  EXPECT_TRUE(file.name_lost());
}

TEST(ExtractName, SafeNames) {
  auto safe = [](const std::string& utf8, const std::u16string& wide) {
    return extract_name_is_safe(utf8.c_str(), uint32_t(utf8.size()), wide.c_str(), uint32_t(wide.size()));
  };
  EXPECT_TRUE(safe("setup.exe", u"setup.exe"));
  EXPECT_TRUE(safe("...", u"..."));
  EXPECT_TRUE(safe(".hidden", u".hidden"));
  EXPECT_FALSE(safe("..", u".."));
  EXPECT_FALSE(safe("a:b", u"a:b"));
  EXPECT_FALSE(safe("x", std::u16string(u"x\0y", 3)));
}

TEST(ExtractLink, TargetsMustStayInsideTheTree) {
  auto inside = [](const std::string& target, uint32_t depth) {
    return extract_link_stays_inside(target.c_str(), uint32_t(target.size()), depth);
  };
  EXPECT_TRUE(inside("libx.so.1", 0));
  EXPECT_FALSE(inside("a/b/../c", 0));  // ".." after a name climbs from where that name leads
  EXPECT_TRUE(inside("../run.sh", 1));
  EXPECT_TRUE(inside("../../x", 2));
  EXPECT_FALSE(inside("../../x", 1));
  EXPECT_FALSE(inside("../x", 0));
  EXPECT_FALSE(inside("/etc/passwd", 3));
  EXPECT_FALSE(inside("", 0));
  EXPECT_TRUE(inside("dir//x/.", 0));
}

}  // namespace
