// UDF volumes over hand-made sectors: anchors, the descriptor sequence and its maps, labels,
// File Entries with every kind of allocation, extended attributes, metadata partitions, and
// chains that loop.
#include <gtest/gtest.h>

#include "image_builder.h"

using namespace isofs_test;

namespace {

constexpr uint32_t kStart = 300;  // the physical partition's first sector
constexpr uint32_t kTagChecksumByte = 4;

// A tree in partition blocks (sector = 300 + block):
//   0 file set, 1 root FE, 2 root FIDs, 3 hello.txt FE (data at 10), 4 embedded FE,
//   5 sub FE, 6 sub FIDs, 7 sub/deep.bin FE (data at 11), 8 link FE (to sub/deep.bin),
//   9 big FE -> AED at 12
//   (data at 13..15), 16 sparse FE (data at 17), 18 efe (extended, data at 19), 20 eatime FE.
struct Tree {
  explicit Tree(const UdfLayout& layout = {}, bool with_iso = false) : l(layout), img(l.sectors) {
    PutUdfVolume(img, l);
    if (with_iso) {
      // A set terminator before the extended area does not hide it.
      PutVolumeDescriptor(img, 16, 1, 1, "ISO", "", 22, kSector);
      PutTerminator(img, 17);
      PutRecognition(img, 18, "BEA01");
      PutRecognition(img, 19, "NSR02");
      PutRecognition(img, 20, "TEA01");
      PutDirectory(img, 22, kSector, {{"ISO.TXT;1", 310, 5}});
    }
    PutFileSet(img, kStart + l.fsd_block, l);
    Bytes root = Fids({{""}, {"hello.txt", 0, 3}, {"embedded", 0, 4}, {"sub", 0x02, 5}, {"link", 0, 8},
                       {"big", 0, 9}, {"sparse", 0, 16}, {"efe", 0, 18}, {"eatime", 0, 20}});
    std::memcpy(img.At(kStart + 2), root.data(), root.size());
    Dir(1, 2, root.size());
    File(3, ShortAds({{5, 10}}));
    img.Fill(kStart + 10, "hello");
    FileEntry embedded;
    embedded.flags = 3;
    std::string text = "inline data";
    embedded.descriptors.assign(text.begin(), text.end());
    PutFileEntry(img, kStart + 4, embedded);
    Bytes sub = Fids({{""}, {"deep.bin", 0, 7, 0, 6}});  // with implementation use bytes
    std::memcpy(img.At(kStart + 6), sub.data(), sub.size());
    Dir(5, 6, sub.size());
    File(7, ShortAds({{3, 11}}));
    img.Fill(kStart + 11, "abc");
    FileEntry link = embedded;
    link.file_type = 12;
    link.descriptors = Components({{5, "sub"}, {5, "deep.bin"}});
    PutFileEntry(img, kStart + 8, link);
    // big: a long descriptor of kind 3 continues in an allocation extent with three more.
    FileEntry big;
    big.flags = 1;
    big.descriptors = LongAds({{0xC0000000u | kSector, 12, 0}});
    PutFileEntry(img, kStart + 9, big);
    Bytes more = LongAds({{kSector, 13, 0}, {kSector, 14, 0}, {100, 15, 0}});
    uint8_t* aed = img.At(kStart + 12);
    StoreLe32(aed + 20, uint32_t(more.size()));
    std::memcpy(aed + 24, more.data(), more.size());
    PutTag(aed, 258, 12);
    for (uint32_t b = 13; b <= 15; ++b) img.Fill(kStart + b, "block" + std::to_string(b));
    // sparse: recorded, then allocated but not recorded (reads as zeros), then recorded again.
    File(16, ShortAds({{kSector, 17}, {0x40000000u | kSector, 17}, {4, 17}}));
    img.Fill(kStart + 17, "dataXXXX");
    FileEntry efe;
    efe.extended = true;
    efe.flags = 0x20;  // archive
    efe.descriptors = ShortAds({{2, 19}});
    PutFileEntry(img, kStart + 18, efe);
    img.Fill(kStart + 19, "ef");
    FileEntry eatime;
    eatime.attributes = TimesAttribute();
    eatime.flags = 0x400;  // system
    PutFileEntry(img, kStart + 20, eatime);
  }

  // A symbolic link's path components: type and name (8-bit, or 16-bit when `wide`).
  struct Component {
    uint8_t type;
    std::string name;
    bool wide = false;
  };
  static Bytes Components(const std::vector<Component>& components) {
    Bytes out;
    for (const Component& c : components) {
      Bytes id;
      if (!c.name.empty()) id.push_back(c.wide ? 16 : 8);
      for (char ch : c.name) {
        if (c.wide) id.push_back(0);
        id.push_back(uint8_t(ch));
      }
      out.insert(out.end(), {c.type, uint8_t(id.size()), 0, 0});
      out.insert(out.end(), id.begin(), id.end());
    }
    return out;
  }

  // An extended attribute header descriptor followed by a file times attribute.
  static Bytes TimesAttribute() {
    Bytes ea(24 + 32);
    PutTag(ea.data(), 262, 0);
    uint8_t* t = ea.data() + 24;
    StoreLe32(t, 5);
    t[4] = 1;
    StoreLe32(t + 8, 32);
    StoreLe32(t + 12, 12);
    StoreLe32(t + 16, 1);
    PutTimestamp(t + 20, 1999, 0);
    return ea;
  }

  void File(uint32_t block, const Bytes& ads, uint8_t type = 5) {
    FileEntry fe;
    fe.file_type = type;
    fe.descriptors = ads;
    PutFileEntry(img, kStart + block, fe);
  }
  void Dir(uint32_t block, uint32_t data_block, size_t bytes) {
    File(block, ShortAds({{uint32_t(bytes), data_block}}), 4);
  }

  UdfLayout l;
  Image img;
};

uint64_t Time(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
  static const int kDays[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int64_t days = 0;
  for (int y = 1601; y < year; ++y) days += 365 + ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0);
  days += kDays[month - 1] + day - 1;
  if (month > 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) ++days;
  return ((((uint64_t(days) * 24 + hour) * 60 + minute) * 60 + second) * 1000 + ms) * 10000;
}

}  // namespace

TEST(UdfVolume, TreeNamesTypesAndData) {
  Tree t;
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos),
            (std::vector<std::string>{"big", "eatime", "efe", "embedded", "hello.txt", "link", "sparse", "sub"}));
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "udf"}));
  EXPECT_EQ(infos[7].type, kSeTypeDirectory);
  EXPECT_EQ(infos[5].type, kSeTypeLink);
  EXPECT_EQ(ReadFile(m.volume, "link"), Bytes({'s', 'u', 'b', '/', 'd', 'e', 'e', 'p', '.', 'b', 'i', 'n'}));
  EXPECT_EQ(infos[4].file_index, uint64_t(kStart + 2) * kSector + 40 + 1);  // second FID, +1
  EXPECT_EQ(ReadFile(m.volume, "hello.txt"), Bytes({'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(ReadFile(m.volume, "sub/deep.bin"), Bytes({'a', 'b', 'c'}));
  std::string text = "inline data";
  EXPECT_EQ(ReadFile(m.volume, "embedded", 3), Bytes(text.begin(), text.end()));
  EXPECT_EQ(infos[3].size, text.size());
}

TEST(UdfVolume, AllocationExtentContinuesTheRuns) {
  Tree t;
  Opened m(t.img.bytes);
  Bytes big = ReadFile(m.volume, "big", 1000);
  ASSERT_EQ(big.size(), 2u * kSector + 100);
  EXPECT_EQ(std::string(big.begin(), big.begin() + 7), "block13");
  EXPECT_EQ(std::string(big.begin() + kSector, big.begin() + kSector + 7), "block14");
  EXPECT_EQ(std::string(big.begin() + 2 * kSector, big.begin() + 2 * kSector + 7), "block15");
}

TEST(UdfVolume, UnrecordedExtentsReadAsZeros) {
  Tree t;
  Opened m(t.img.bytes);
  Bytes sparse = ReadFile(m.volume, "sparse");
  ASSERT_EQ(sparse.size(), 2u * kSector + 4);
  EXPECT_EQ(std::string(sparse.begin(), sparse.begin() + 4), "data");
  EXPECT_EQ(Bytes(sparse.begin() + kSector, sparse.begin() + 2 * kSector), Bytes(kSector, 0));
  EXPECT_EQ(std::string(sparse.begin() + 2 * kSector, sparse.end()), "data");
}

TEST(UdfVolume, AttributesAndTimes) {
  Tree t;
  Opened m(t.img.bytes);
  std::vector<SeEntryInfo> infos;
  ListNames(m.volume, "", 900, &infos);
  ASSERT_EQ(infos.size(), 8u);
  EXPECT_EQ(infos[5].attributes, 0);     // link
  EXPECT_EQ(infos[2].attributes, 0x20);  // efe: archive
  EXPECT_EQ(infos[1].attributes, 0x04);  // eatime: system
  // File Entry times are 2005-04-05 06:07:08.09 at +01:00.
  EXPECT_EQ(infos[4].modification_time, Time(2005, 4, 5, 5, 7, 8, 90));
  EXPECT_EQ(infos[4].creation_time, 0u);
  EXPECT_EQ(infos[2].creation_time, Time(2006, 4, 5, 5, 7, 8, 90));
  EXPECT_EQ(infos[1].creation_time, Time(1999, 4, 5, 6, 7, 8, 90));  // from the attribute, zone 0
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "", 1, &r), kOk);
  uint64_t time = 0;
  char16_t* label = nullptr;
  ASSERT_EQ(m.volume->GetVolumeInfo(1, &time, &label), kOk);
  EXPECT_EQ(std::u16string(label), u"LVLABEL");
  EXPECT_EQ(time, Time(2004, 4, 5, 5, 7, 8, 90));
  m.volume->FreeString(label);
}

TEST(UdfVolume, DeletedIdentifiersAreSkippedHiddenOnesStay) {
  Tree t;
  Bytes root = Fids({{""}, {"hello.txt", 0, 3}, {"gone.txt", 0x04, 3}, {"hidden.txt", 0x01, 3}});
  std::memcpy(t.img.At(kStart + 2), root.data(), root.size());
  t.Dir(1, 2, root.size());
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"hello.txt", "hidden.txt"}));
}

// Permissions become POSIX modes with their type bits; change-attribute and delete bits go.
TEST(UdfVolume, PermissionsBecomeModes) {
  Tree t;
  FileEntry file;
  file.permissions = 0x1C00 | 0xA0 | 0x04 | 0x6318;  // rwx r-x r--, with delete and chattr
  file.descriptors = ShortAds({{5, 10}});
  PutFileEntry(t.img, kStart + 3, file);
  FileEntry dir;
  dir.file_type = 4;
  dir.permissions = 0x14A5;  // r-x for everyone
  dir.descriptors = ShortAds({{uint32_t(Fids({{""}, {"deep.bin", 0, 7, 0, 6}}).size()), 6}});
  PutFileEntry(t.img, kStart + 5, dir);
  Opened m(t.img.bytes);
  std::vector<SeEntryInfo> infos;
  ListNames(m.volume, "", 900, &infos);
  ASSERT_EQ(infos.size(), 8u);
  EXPECT_EQ(infos[4].mode, 0100754u);  // hello.txt
  EXPECT_EQ(infos[7].mode, 040555u);   // sub
  EXPECT_EQ(infos[0].mode, 0u);        // big: nothing recorded
}

// A link's target is built from its components, embedded or in blocks of their own; bad
// components leave the link unsound (reading it and listing its directory fail with 11).
TEST(UdfVolume, LinkTargetsFromPathComponents) {
  using C = Tree::Component;
  std::string wide_name(127, 'w');
  std::vector<C> overflowing(16, C{5, wide_name, true});
  struct Case {
    std::vector<C> components;
    const char* target;  // null: unsound
  } cases[] = {
      {{{2, ""}, {3, ""}, {4, ""}, {5, "a"}}, "/.././a"},
      {{{1, ""}, {5, "x"}}, "/x"},
      {{{5, "b", true}, {3, ""}}, "b/.."},
      {{{7, ""}}, nullptr},
      {{{5, ""}}, nullptr},
      {{{5, "a/b"}}, nullptr},
      {{}, nullptr},
      {overflowing, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target ? c.target : "unsound");
    for (bool in_block : {false, true}) {
      Tree t;
      Bytes data = Tree::Components(c.components);
      FileEntry link;
      link.file_type = 12;
      if (in_block) {
        ASSERT_LE(data.size(), 4 * kSector);
        std::copy(data.begin(), data.end(), t.img.At(kStart + 21));
        link.descriptors = ShortAds({{uint32_t(data.size()), 21}});
      } else if (data.size() < 1800) {
        link.flags = 3;
        link.descriptors = data;
      } else {
        continue;
      }
      PutFileEntry(t.img, kStart + 8, link);
      Opened m(t.img.bytes);
      ASSERT_EQ(m.error, kOk);
      if (c.target) {
        EXPECT_EQ(ReadFile(m.volume, "link"), Bytes(c.target, c.target + std::strlen(c.target)));
      } else {
        EXPECT_EQ(ListNames(m.volume, "").back(), "<error 11>");
      }
    }
  }
  // Data too long to be a link's.
  Tree t;
  FileEntry link;
  link.file_type = 12;
  link.descriptors = ShortAds({{5000, 21}});
  PutFileEntry(t.img, kStart + 8, link);
  Opened m(t.img.bytes);
  EXPECT_EQ(ListNames(m.volume, "").back(), "<error 11>");
}

TEST(UdfLabels, LastNonEmptyIdentifierWins) {
  auto label_of = [](const UdfLayout& l) {
    Tree t(l);
    Opened m(t.img.bytes);
    uint64_t time;
    char16_t* label = nullptr;
    if (m.error || m.volume->GetVolumeInfo(0, &time, &label)) return std::u16string(u"<error>");
    std::u16string s(label);
    m.volume->FreeString(label);
    return s;
  };
  UdfLayout l;
  EXPECT_EQ(label_of(l), u"LVLABEL");
  l.fsd_lv_id = "FSDLV   ";
  EXPECT_EQ(label_of(l), u"FSDLV");
  l.fs_id = "FILESET";
  EXPECT_EQ(label_of(l), u"FILESET");
  l = UdfLayout{};
  l.lv_id = "";
  EXPECT_EQ(label_of(l), u"PVDLABEL");
}

TEST(UdfAnchors, OnlyAtTheLastSector) {
  UdfLayout l;
  l.anchor = l.sectors - 1;
  Tree t(l);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ReadFile(m.volume, "hello.txt").size(), 5u);
}

TEST(UdfAnchors, SectorTwoFiftySixComesFirst) {
  Tree t;
  // A second anchor at the last sector names a sequence of garbage: it is never used.
  uint8_t* a = t.img.At(t.l.sectors - 1);
  StoreLe32(a + 16, 4 * kSector);
  StoreLe32(a + 20, 100);
  PutTag(a, 2, t.l.sectors - 1);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "udf"}));
}

TEST(UdfAnchors, NoAnchorFailsTheOpen) {
  Tree t;
  std::memset(t.img.At(256), 0, kSector);
  Opened m(t.img.bytes);
  EXPECT_EQ(m.error, kErrBadFormat);
}

TEST(UdfOverIso, UdfRootIsMainRootIsoStaysReachable) {
  Tree t({}, true);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "udf", "volume01"}));
  EXPECT_EQ(ListNames(m.volume, "").size(), 8u);
  EXPECT_EQ(ListNames(m.volume, ".$media/volume01"), (std::vector<std::string>{"ISO.TXT"}));
}

TEST(UdfOverIso, BrokenUdfLeavesTheIsoRoot) {
  UdfLayout l;
  l.block_size = 512;  // the descriptor is ignored for maps and the file set
  Tree t(l, true);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "volume01"}));
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"ISO.TXT"}));
}

TEST(UdfMaps, SparableMapWithoutATableLeavesTheOtherMapsWorking) {
  UdfLayout l;
  l.sparable = true;
  Tree t(l);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ReadFile(m.volume, "sub/deep.bin").size(), 3u);
}

TEST(UdfMaps, SparableMapReadsMovedPacketsFromTheSpareArea) {
  UdfLayout l;
  l.sparable = true;
  l.fsd_partition = 1;
  l.root_partition = 1;
  Tree t(l);
  // Packet 0 (blocks 0..31) now lives at sector 352; its old place reads as garbage.
  std::memcpy(t.img.At(352), t.img.At(kStart), 32 * kSector);
  for (uint32_t b = 0; b < 3; ++b) t.img.Fill(kStart + b, "worn out");
  PutSparingTable(t.img, l.sparing_table, {{0, 352}});
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, "").size(), 8u);
  EXPECT_EQ(ReadFile(m.volume, "hello.txt"), Bytes({'h', 'e', 'l', 'l', 'o'}));
}

// A metadata partition (map `meta`) over partition 0. Its metadata file (File Entry at sector
// 340) has two extents: metadata blocks 0..1 at partition blocks 50..51, 2..9 at 60..67. They
// hold the file set (0), the root (1), its identifiers (2), inside.txt (3) and across.bin (4),
// whose data are metadata blocks 1..2, one in each extent. The mirror file's entry, at 345,
// names the same extents; `spoil` may damage either.
struct MetadataVolume {
  MetadataVolume(UdfLayout layout, uint16_t meta) : l(layout), img(l.sectors), meta(meta) {
    l.metadata = true;
    l.metadata_file = 40;
    l.metadata_mirror = 45;
    l.fsd_partition = meta;
    l.fsd_block = 0;
    l.root_partition = meta;
    l.root_block = 1;
    PutUdfVolume(img, l);
    FileEntry meta_entry;
    meta_entry.file_type = 250;
    meta_entry.descriptors = ShortAds({{2 * kSector, 50}, {8 * kSector, 60}});
    PutFileEntry(img, kStart + 40, meta_entry);
    meta_entry.file_type = 251;
    PutFileEntry(img, kStart + 45, meta_entry);
    PutFileSet(img, kStart + 50, l);
    Bytes fids = Fids({{""}, {"inside.txt", 0, 3, meta}, {"across.bin", 0, 4, meta}});
    std::memcpy(img.At(kStart + 60), fids.data(), fids.size());
    FileEntry root;
    root.file_type = 4;
    root.descriptors = ShortAds({{uint32_t(fids.size()), 2}});  // metadata partition block 2
    PutFileEntry(img, kStart + 51, root);
    FileEntry file;
    file.flags = 1;
    file.descriptors = LongAds({{6, 20, 0}});  // data in the physical partition
    PutFileEntry(img, kStart + 61, file);
    file.descriptors = LongAds({{2 * kSector, 1, meta}});
    PutFileEntry(img, kStart + 62, file);
    img.Fill(kStart + 20, "inside");
  }

  // Opens the image: the tree must read whole, the metadata file in use (its File Entry at
  // `entry_block`) named in ".$media".
  void Check(uint32_t entry_block) {
    Opened m(img.bytes);
    ASSERT_EQ(m.error, kOk);
    EXPECT_EQ(ListNames(m.volume, ".$media"),
              (std::vector<std::string>{"image.iso", "udf", "udf_metadata_" + std::to_string(meta)}));
    EXPECT_EQ(ReadFile(m.volume, "inside.txt"), Bytes({'i', 'n', 's', 'i', 'd', 'e'}));
    Bytes across = ReadFile(m.volume, "across.bin");
    ASSERT_EQ(across.size(), 2 * kSector);
    EXPECT_EQ(Bytes(across.begin(), across.begin() + kSector), Bytes(img.At(kStart + 51), img.At(kStart + 52)));
    EXPECT_EQ(Bytes(across.begin() + kSector, across.end()), Bytes(img.At(kStart + 60), img.At(kStart + 61)));
    std::vector<SeEntryInfo> infos;
    ListNames(m.volume, ".$media", 900, &infos);
    EXPECT_EQ(infos[2].size, 10u * kSector);
    EXPECT_EQ(infos[2].attributes, 0x06);
    EXPECT_EQ(infos[2].file_index, uint64_t(kStart + entry_block) * kSector + 1);
  }

  UdfLayout l;
  Image img;
  uint16_t meta;
};

TEST(UdfMaps, MetadataPartitionFollowsEveryExtentOfTheMetadataFile) {
  MetadataVolume v({}, 1);
  v.Check(40);
}

// The mirror stands in when the metadata file's entry is unsound or its extents leave the
// image; without either the volume does not open.
TEST(UdfMaps, MetadataMirrorStandsInForAnUnreadableMetadataFile) {
  for (int spoil : {0, 1}) {
    MetadataVolume v({}, 1);
    uint8_t* entry = v.img.At(kStart + 40);
    if (spoil == 0) entry[kTagChecksumByte] ^= 1;
    if (spoil == 1) StoreLe32(entry + 176 + 4, 5000), PutTag(entry, 261, kStart + 40);
    v.Check(45);
    v.img.At(kStart + 45)[kTagChecksumByte] ^= 1;
    EXPECT_EQ(Opened(v.img.bytes).error, kErrBadFormat) << spoil;
  }
}

// 400 identifiers name one File Entry whose extent crosses each of the 200 one-block runs of
// the metadata file: 80,000 runs to make. Those made stay bounded by the image's size; the
// entries past the bound fail with 11.
TEST(UdfMaps, ExtentsCrossingManyRunsStayBounded) {
  UdfLayout l;
  l.sectors = 1400;
  l.metadata = true;
  l.fsd_partition = l.root_partition = 1;
  Image img(l.sectors);
  PutUdfVolume(img, l);
  std::vector<std::array<uint32_t, 2>> runs;
  for (uint32_t i = 0; i < 200; ++i) runs.push_back({kSector, 100 + 2 * i});
  FileEntry meta;
  meta.file_type = 250;
  meta.descriptors = ShortAds(runs);
  PutFileEntry(img, kStart, meta);
  PutFileSet(img, kStart + 100, l);  // metadata block 0
  std::vector<Fid> fids = {{""}};
  for (int i = 0; i < 400; ++i) fids.push_back({"f" + std::to_string(i), 0, 2, 1});
  Bytes data = Fids(fids);
  std::copy(data.begin(), data.end(), img.At(kStart + 10));
  FileEntry root;
  root.file_type = 4;
  root.flags = 1;
  root.descriptors = LongAds({{uint32_t(data.size()), 10, 0}});
  PutFileEntry(img, kStart + 102, root);  // metadata block 1
  FileEntry file;
  file.flags = 1;
  file.descriptors = LongAds({{200 * kSector, 0, 1}});
  PutFileEntry(img, kStart + 104, file);  // metadata block 2
  Opened m(img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, "").back(), "<error 11>");
  // The File Entry reads of one position run last queued first: f399's found room.
  EXPECT_EQ(ReadFile(m.volume, "f399").size(), 200u * kSector);
}

TEST(UdfMaps, MapTablesLongerThanSeventyTwoBytesAreRead) {
  UdfLayout l;
  l.sparable = true;  // physical, sparable and metadata maps: 134 bytes
  MetadataVolume v(l, 2);
  v.Check(40);
}

TEST(UdfLoops, AllocationExtentPointingToItselfEndsWithAnError) {
  Tree t;
  uint8_t* aed = t.img.At(kStart + 12);
  Bytes loop = LongAds({{kSector, 13, 0}, {0xC0000000u | kSector, 12, 0}});
  StoreLe32(aed + 20, uint32_t(loop.size()));
  std::memcpy(aed + 24, loop.data(), loop.size());
  PutTag(aed, 258, 12);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "big", 4, &r), kOk);
  uint8_t buffer[16];
  uint32_t count = 0;
  EXPECT_EQ(m.volume->Read(4, 0, buffer, sizeof buffer, &count), kErrStackOverflow);
  // The rest of the tree is unharmed.
  EXPECT_EQ(ReadFile(m.volume, "hello.txt").size(), 5u);
}

TEST(UdfLoops, IndirectEntriesThatLoopEnd) {
  Tree t;
  uint8_t* ie = t.img.At(kStart + 3);  // hello.txt's ICB becomes an indirect entry to itself
  std::memset(ie, 0, kSector);
  PutLongAd(ie + 36, kSector, 3, 0);
  PutTag(ie, 259, 3);
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "hello.txt", 4, &r), kOk);
  uint32_t count = 0;
  uint8_t byte;
  EXPECT_EQ(m.volume->Read(4, 0, &byte, 1, &count), kErrStackOverflow);
}

TEST(UdfAttributes, AttributeIcbHoldingAFileEntry) {
  Tree t;
  // hello.txt's attributes live in a file whose File Entry (block 21) embeds them.
  FileEntry fe;
  fe.descriptors = ShortAds({{5, 10}});
  fe.ea_icb_length = kSector, fe.ea_icb_block = 21;
  PutFileEntry(t.img, kStart + 3, fe);
  FileEntry attributes;
  attributes.file_type = 8;
  attributes.flags = 3;
  attributes.descriptors = Tree::TimesAttribute();
  PutFileEntry(t.img, kStart + 21, attributes);
  Opened m(t.img.bytes);
  SeLookupResult r;
  ASSERT_EQ(LookupPath(m.volume, "hello.txt", 4, &r), kOk);
  EXPECT_EQ(r.info.creation_time, Time(1999, 4, 5, 6, 7, 8, 90));
  EXPECT_EQ(r.info.size, 5u);  // its own entry's size and type stay
  EXPECT_EQ(r.info.type, kSeTypeFile);
  EXPECT_EQ(r.info.attributes, 0);
}

TEST(UdfDamage, BadTagFailsTheDirectory) {
  Tree t;
  t.img.At(kStart + 2, 40 + 48)[4] ^= 1;  // the third FID's checksum
  Opened m(t.img.bytes);
  EXPECT_EQ(ListNames(m.volume, ""), std::vector<std::string>{"<error 11>"});
}

// Entries whose structures are unsound are not taken as empty files: reading them, and any
// listing that reaches them, fails with 11, while the rest of the tree stays reachable.
TEST(UdfDamage, UnsoundEntriesFailTheirReadsAndListings) {
  struct Case {
    const char* what;
    const char* name;  // the entry spoilt
    void (*spoil)(Tree&);
  };
  const Case cases[] = {
      {"File Entry sector without a descriptor", "hello.txt",
       [](Tree& t) { std::memset(t.img.At(kStart + 3), 0, kSector); }},
      {"allocation extent without a descriptor", "big",
       [](Tree& t) { std::memset(t.img.At(kStart + 12), 0, kSector); }},
      {"descriptors longer than the entry's sector", "hello.txt",
       [](Tree& t) {
         uint8_t* f = t.img.At(kStart + 3);
         StoreLe32(f + 172, kSector);  // the length of the allocation descriptors
         PutTag(f, 261, kStart + 3);
       }},
      {"descriptor type beyond the known four", "hello.txt",
       [](Tree& t) {
         uint8_t* f = t.img.At(kStart + 3);
         StoreLe16(f + 34, 5);  // ICB flags
         PutTag(f, 261, kStart + 3);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tree t;
    c.spoil(t);
    Opened m(t.img.bytes);
    ASSERT_EQ(m.error, kOk);
    SeLookupResult r;
    ASSERT_EQ(LookupPath(m.volume, c.name, 4, &r), kOk);
    uint8_t byte;
    uint32_t count = 7;
    EXPECT_EQ(m.volume->Read(4, 0, &byte, 1, &count), kErrBadFormat);
    EXPECT_EQ(count, 0u);
    m.volume->Forget(4, ~uint64_t{0});
    std::vector<std::string> names = ListNames(m.volume, "");
    EXPECT_EQ(names.back(), "<error 11>");
    EXPECT_EQ(ReadFile(m.volume, "sub/deep.bin"), Bytes({'a', 'b', 'c'}));
  }
}
