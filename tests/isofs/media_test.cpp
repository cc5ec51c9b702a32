// The media and its namespace over hand-made ISO 9660 images: ".$media", the main root,
// lookups, list streams, node ids, reads through extents and the verify pass.
#include <gtest/gtest.h>

#include "base/pool.h"
#include "image_builder.h"

using namespace isofs_test;

namespace {

// Primary and Joliet volumes over the same files:
//   README.TXT;1 (5 bytes at 30), SUB/DATA.BIN;1 (3000 bytes at 31..32), readme / README twins.
Bytes TwoVolumes(uint32_t sectors = 40) {
  Image img(sectors);
  PutVolumeDescriptor(img, 16, 1, 1, "PRIMARY", "", 20, kSector);
  PutVolumeDescriptor(img, 17, 2, 1, Ucs2("JOLIET          "), "%/E", 21, kSector);
  PutTerminator(img, 18);
  PutDirectory(img, 20, kSector, {{"README.TXT;1", 30, 5}, {"SUB", 22, kSector, 2}});
  PutDirectory(img, 21, kSector,
               {{Ucs2("readme.txt;1"), 30, 5}, {Ucs2("sub"), 23, kSector, 2}, {Ucs2("twin"), 30, 1},
                {Ucs2("TWIN"), 30, 2}});
  PutDirectory(img, 22, kSector, {{"DATA.BIN;1", 31, 3000}});
  PutDirectory(img, 23, kSector, {{Ucs2("data.bin;1"), 31, 3000}});
  img.Fill(30, "hello");
  for (uint32_t i = 0; i < 3000; ++i) *img.At(31, i) = uint8_t(i * 7);
  return img.bytes;
}

class Receiver final : public SeListResult {
 public:
  explicit Receiver(bool accept) : accept_(accept) {}
  bool OnEntry(const SeEntryInfo*, const char* name, bool* more) override {
    names.push_back(name);
    *more = false;
    return accept_;
  }
  void OnEnd() override { ++ends; }
  std::vector<std::string> names;
  int ends = 0;

 private:
  bool accept_;
};

class Progress final : public SeVerifyProgress {
 public:
  explicit Progress(bool stop) : stop_(stop) {}
  bool OnProgress(uint64_t done, uint64_t total) override {
    calls.push_back(done);
    this->total = total;
    return stop_;
  }
  std::vector<uint64_t> calls;
  uint64_t total = 0;

 private:
  bool stop_;
};

}  // namespace

TEST(MediaNamespace, MediaDirectoryHoldsImageAndEveryVolume) {
  Opened m(TwoVolumes());
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "volume01", "volume02"}));
  // The Joliet volume came last: it is the main root.
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"readme.txt", "sub", "twin", "TWIN"}));
  EXPECT_EQ(ListNames(m.volume, ".$media/volume01"), (std::vector<std::string>{"README.TXT", "SUB"}));
  uint64_t size = 0;
  m.volume->GetImageSize(&size);
  EXPECT_EQ(size, 40u * kSector);
}

TEST(MediaNamespace, RawImageUnderAsciiFoldedMediaName) {
  Bytes image = TwoVolumes();
  Opened m(image);
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, ".$MEDIA/image.iso", 5, &r), kOk);
  EXPECT_EQ(r.info.type, kSeTypeFile);
  EXPECT_EQ(r.info.file_index, 2u);
  EXPECT_EQ(r.info.size, image.size());
  // Its run starts at sector 0 and really reads from there.
  EXPECT_EQ(ReadFile(m.volume, ".$media/image.iso"), image);
}

TEST(MediaNamespace, LookupResultsAndCodes) {
  Opened m(TwoVolumes());
  SeLookupResult r;
  char16_t* name = reinterpret_cast<char16_t*>(1);
  ASSERT_EQ(m.volume->Lookup(nullptr, 0, 7, &r, &name), kOk);
  EXPECT_EQ(name, nullptr);  // the main root comes without a name
  EXPECT_EQ(r.info.type, kSeTypeDirectory);
  EXPECT_EQ(LookupPath(m.volume, "readme.txt/b", 8, &r), kErrFileNotFound);
  EXPECT_EQ(LookupPath(m.volume, "readme.txt/b/c", 8, &r), kErrPathNotFound);
  EXPECT_EQ(LookupPath(m.volume, "x/y", 8, &r), kErrPathNotFound);
  EXPECT_EQ(LookupPath(m.volume, "x", 8, &r), kErrFileNotFound);
  // Names compare without regard to case; the name handed back is the entry's own.
  Path p("SUB/Data.Bin");
  ASSERT_EQ(m.volume->Lookup(p.data(), p.size(), 9, &r, &name), kOk);
  EXPECT_EQ(std::u16string(name), u"data.bin");
  m.volume->FreeString(name);
  EXPECT_EQ(r.info.size, 3000u);
  EXPECT_EQ(r.info.modification_time, 125912558450000000u);  // 2000-01-02 03:04:05 UTC
}

// A name already held goes directly after the first child of that name, so the fourth of four
// spellings of one name lists second.
TEST(MediaNamespace, ARepeatedNameGoesDirectlyAfterTheFirstOfIt) {
  Image img(30);
  PutVolumeDescriptor(img, 16, 1, 1, "PRIMARY", "", 21, kSector);
  PutVolumeDescriptor(img, 17, 2, 1, Ucs2("JOLIET"), "%/E", 20, kSector);
  PutTerminator(img, 18);
  PutDirectory(img, 21, kSector, {});
  PutDirectory(img, 20, kSector,
               {{Ucs2("twin"), 25, 1}, {Ucs2("TWIN"), 25, 2}, {Ucs2("Twin"), 25, 3},
                {Ucs2("tWIN"), 25, 4}, {Ucs2("a"), 25, 5}});
  Opened m(img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"a", "twin", "tWIN", "Twin", "TWIN"}));
}

// Names that differ only in case both stay; each is found by its own spelling, any other
// spelling finds the first.
TEST(MediaNamespace, TwinNamesStayAndLookupPrefersTheExactSpelling) {
  Opened m(TwoVolumes());
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "TWIN", 3, &r), kOk);
  EXPECT_EQ(r.info.size, 2u);
  ASSERT_EQ(LookupPath(m.volume, "twin", 4, &r), kOk);
  EXPECT_EQ(r.info.size, 1u);
  ASSERT_EQ(LookupPath(m.volume, "Twin", 5, &r), kOk);
  EXPECT_EQ(r.info.size, 1u);
  EXPECT_EQ(r.lookup_count, 2u);
}

TEST(MediaNamespace, NodeIdsAreKeptUntilForgotten) {
  Opened m(TwoVolumes());
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "sub", 10, &r), kOk);
  ASSERT_EQ(LookupPath(m.volume, "sub", 11, &r), kOk);
  EXPECT_EQ(r.node_id, 10u);  // the second id is ignored
  EXPECT_EQ(r.lookup_count, 2u);
  EXPECT_EQ(m.volume->Forget(10, 5), kOk);  // count below the lookups: nothing happens
  EXPECT_EQ(m.volume->GetAttributes(10, &r), kOk);
  EXPECT_EQ(r.lookup_count, 3u);
  EXPECT_EQ(m.volume->Forget(10, ~uint64_t{0}), kOk);
  EXPECT_EQ(m.volume->GetAttributes(10, &r), kErrInvalidParameter);
  ASSERT_EQ(LookupPath(m.volume, "sub", 12, &r), kOk);
  EXPECT_EQ(r.node_id, 12u);
  EXPECT_EQ(r.lookup_count, 1u);
  EXPECT_EQ(m.volume->GetAttributes(0, &r), kOk);  // 0: the main root
  EXPECT_EQ(r.info.type, kSeTypeDirectory);
}

TEST(MediaNamespace, AttributesOfTheUnregisteredMainRootLeaveItRegistrable) {
  Opened m(TwoVolumes());
  SeLookupResult r;
  ASSERT_EQ(m.volume->GetAttributes(0, &r), kOk);
  ASSERT_EQ(m.volume->GetAttributes(0, &r), kOk);
  EXPECT_EQ(r.lookup_count, 0u);
  ASSERT_EQ(LookupPath(m.volume, "", 6, &r), kOk);
  EXPECT_EQ(r.node_id, 6u);
  EXPECT_EQ(r.lookup_count, 1u);
  Receiver rx(true);
  EXPECT_EQ(m.volume->List(6, 1, &rx), kOk);
  EXPECT_EQ(rx.names, (std::vector<std::string>{"readme.txt"}));
}

TEST(MediaNamespace, UnknownIdsAndStreamsGive87) {
  Opened m(TwoVolumes());
  Receiver rx(true);
  SeLookupResult r;
  uint32_t count = 9;
  uint8_t byte;
  uint64_t time = 1;
  char16_t* label = reinterpret_cast<char16_t*>(1);
  EXPECT_EQ(m.volume->List(77, 1, &rx), kErrInvalidParameter);
  EXPECT_EQ(m.volume->CloseList(77, 1), kErrInvalidParameter);
  EXPECT_EQ(m.volume->Forget(77, 1), kErrInvalidParameter);
  EXPECT_EQ(m.volume->Read(77, 0, &byte, 1, &count), kErrInvalidParameter);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(m.volume->GetAttributes(77, &r), kErrInvalidParameter);
  EXPECT_EQ(m.volume->GetVolumeInfo(77, &time, &label), kErrInvalidParameter);
  EXPECT_EQ(label, nullptr);
}

TEST(MediaListing, RefusedEntryIsOfferedAgain) {
  Opened m(TwoVolumes());
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "", 1, &r), kOk);
  Receiver refuse(false);
  m.volume->List(1, 1, &refuse);
  m.volume->List(1, 1, &refuse);
  EXPECT_EQ(refuse.names, (std::vector<std::string>{"readme.txt", "readme.txt"}));
  Receiver take(true);
  for (int i = 0; i < 6; ++i) m.volume->List(1, 1, &take);
  EXPECT_EQ(take.names, (std::vector<std::string>{"readme.txt", "sub", "twin", "TWIN"}));
  EXPECT_EQ(take.ends, 2);  // the stream stays at its end
}

TEST(MediaListing, StreamsAreIndependentAndForgetDeletesThem) {
  Opened m(TwoVolumes());
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "", 1, &r), kOk);
  Receiver a(true), b(true);
  m.volume->List(1, 1, &a);
  m.volume->List(1, 1, &a);
  m.volume->List(1, 2, &b);
  EXPECT_EQ(a.names, (std::vector<std::string>{"readme.txt", "sub"}));
  EXPECT_EQ(b.names, (std::vector<std::string>{"readme.txt"}));
  EXPECT_EQ(m.volume->CloseList(1, 2), kOk);
  EXPECT_EQ(m.volume->CloseList(1, 2), kErrInvalidParameter);
  ASSERT_EQ(m.volume->Forget(1, ~uint64_t{0}), kOk);
  ASSERT_EQ(LookupPath(m.volume, "", 1, &r), kOk);
  Receiver c(true);
  m.volume->List(1, 1, &c);
  EXPECT_EQ(c.names, (std::vector<std::string>{"readme.txt"}));
}

TEST(MediaListing, DirectoriesListWithoutSizeFilesWithIt) {
  Opened m(TwoVolumes());
  std::vector<SeEntryInfo> infos;
  ListNames(m.volume, "", 1, &infos);
  ASSERT_EQ(infos.size(), 4u);
  EXPECT_EQ(infos[0].size, 5u);
  EXPECT_EQ(infos[1].type, kSeTypeDirectory);
  EXPECT_EQ(infos[1].size, 0u);
}

TEST(MediaRead, PiecesAndEnd) {
  Opened m(TwoVolumes());
  Bytes data = ReadFile(m.volume, "sub/data.bin", 1000);
  ASSERT_EQ(data.size(), 3000u);
  for (uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(data[i], uint8_t(i * 7)) << i;
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "readme.txt", 4, &r), kOk);
  uint8_t buffer[16];
  uint32_t count = 9;
  EXPECT_EQ(m.volume->Read(4, 5, buffer, 16, &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(m.volume->Read(4, 3, buffer, 16, &count), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "lo");
}

TEST(MediaVerify, ChunksOf256KiBTheLastPassingTheEnd) {
  Opened m(TwoVolumes(3000));
  ASSERT_EQ(m.error, kOk);
  uint64_t size;
  m.volume->GetImageSize(&size);
  EXPECT_EQ(size, 6144000u);
  Progress all(false);
  EXPECT_EQ(m.volume->Verify(&all), kOk);
  ASSERT_EQ(all.calls.size(), 24u);
  EXPECT_EQ(all.total, 6144000u);
  EXPECT_EQ(all.calls.back(), 23u * 0x40000);
  Progress first(true);
  EXPECT_EQ(m.volume->Verify(&first), kOk);
  EXPECT_EQ(first.calls.size(), 1u);
  EXPECT_EQ(m.volume->Verify(nullptr), kOk);
}

TEST(MediaVolumeInfo, LabelAndTimeOfTheVolumeHoldingAnEntry) {
  Opened m(TwoVolumes());
  uint64_t time = 0;
  char16_t* label = nullptr;
  ASSERT_EQ(m.volume->GetVolumeInfo(0, &time, &label), kOk);
  EXPECT_EQ(std::u16string(label), u"JOLIET");
  EXPECT_EQ(time, 126256467060000000u);  // 2001-02-03 04:05:06.00 UTC
  m.volume->FreeString(label);
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, ".$media/volume01/SUB", 3, &r), kOk);
  ASSERT_EQ(m.volume->GetVolumeInfo(3, &time, &label), kOk);
  EXPECT_EQ(std::u16string(label), u"PRIMARY");
  m.volume->FreeString(label);
  // Outside every volume the outputs stay as they were.
  ASSERT_EQ(LookupPath(m.volume, ".$media", 4, &r), kOk);
  time = 5, label = nullptr;
  EXPECT_EQ(m.volume->GetVolumeInfo(4, &time, &label), kOk);
  EXPECT_EQ(time, 5u);
}

TEST(MediaOpen, WithoutAnyVolumeTheOpenFails) {
  // Sector 16 carries a recognition signature (the image reader takes the file) but nothing
  // after it makes a volume.
  Image img(40);
  PutRecognition(img, 16, "BEA01");
  PutRecognition(img, 17, "TEA01");
  Opened m(img.bytes);
  EXPECT_EQ(m.error, kErrBadFormat);
  EXPECT_EQ(m.volume, nullptr);
}

// Sector 16 must stay one the plain reader takes, so the scan is reached; the sector after it
// is none of the known descriptors and hides the Joliet one behind it.
TEST(MediaOpen, UnrecognisedSectorEndsTheScan) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "PRIMARY", "", 20, kSector);
  std::memcpy(img.At(17), "\x02XD001\x01", 7);
  PutVolumeDescriptor(img, 18, 2, 1, Ucs2("JOLIET"), "%/E", 21, kSector);
  PutDirectory(img, 20, kSector, {{"PRIMARY.TXT;1", 30, 1}});
  PutDirectory(img, 21, kSector, {{Ucs2("joliet.txt;1"), 30, 1}});
  Opened m(img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "volume01"}));
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"PRIMARY.TXT"}));
}

// Nothing before the unknown sector made a volume: the open fails rather than leave no root.
TEST(MediaOpen, UnrecognisedSectorBeforeAnyVolumeFailsTheOpen) {
  Image img(40);
  PutRecognition(img, 16, "BEA01");
  std::memcpy(img.At(17), "\x00TEA01\x01", 7);  // the end of an extended area, unknown here
  PutVolumeDescriptor(img, 18, 1, 1, "PRIMARY", "", 20, kSector);
  PutDirectory(img, 20, kSector, {});
  Opened m(img.bytes);
  EXPECT_EQ(m.error, kErrBadFormat);
  EXPECT_EQ(m.volume, nullptr);
}

TEST(MediaOpen, UnknownEscapesUseUpAVolumeNumber) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "PRIMARY", "", 20, kSector);
  PutVolumeDescriptor(img, 17, 2, 1, "X", "%/Q", 21, kSector);
  PutVolumeDescriptor(img, 18, 2, 1, "J", "%/@", 21, kSector);
  PutDirectory(img, 20, kSector, {});
  PutDirectory(img, 21, kSector, {});
  Opened m(img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "volume01", "volume03"}));
}

TEST(MediaOpen, OutOfMemoryGives14) {
  Bytes image = TwoVolumes();
  MemoryFiles files;
  files.Add(u"\\m\\i.iso", image.data(), image.size());
  SeVolume* v = reinterpret_cast<SeVolume*>(1);
  PoolFailNextAllocations(1);
  err_t e = OpenMediaFrom(&files, u"\\m\\i.iso", kNoHandle, kNoHandle, &v);
  PoolFailNextAllocations(0);
  EXPECT_EQ(e, kErrOutOfMemory);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(files.OpenHandles(), 0);
}
