// UDF volumes of write-once media: the file set, directories and File Entries sit in a virtual
// partition whose blocks map through the virtual allocation table at the end of the recorded
// sectors. Both forms of the table, a table spread over allocation extents, and tables that
// are missing, truncated, too large, pointing outside their partition, mapping onto themselves
// or looping.
#include <gtest/gtest.h>

#include "image_builder.h"

using namespace isofs_test;

namespace {

enum class TableForm { kHeader, kTrailer, kExtents };

// A tree in the virtual partition (map 1) over physical partition 0 at sector 48:
//   virtual 0 file set, 1 root FE, 2 root FIDs, 3 hello.txt FE (data in virtual 4 and 5),
//   6 sub FE, 7 sub FIDs, 8 sub/deep.bin FE (data in physical block 30), 9 unused ("ghost").
// The table maps them out of order; its File Entry is sector 93, then a sector of zeros, then
// the anchor at the last sector, as on a closed disc.
struct VatTree {
  static constexpr uint32_t kSectors = 96, kStart = 48, kTableSector = 93;

  static UdfLayout Layout() {
    UdfLayout l;
    l.sectors = kSectors;
    l.partition_start = kStart;
    l.anchor = kSectors - 1;
    l.virtual_map = true;
    l.fsd_partition = 1, l.fsd_block = 0;
    l.root_partition = 1, l.root_block = 1;
    return l;
  }

  // `ghost`: the root also names an entry whose File Entry's block the table leaves unused.
  explicit VatTree(TableForm form = TableForm::kHeader, const UdfLayout& layout = Layout(), bool ghost = true)
      : l(layout), img(l.sectors) {
    PutUdfVolume(img, l);
    PutFileSet(img, Physical(0), l);
    Bytes root = ghost ? Fids({{""}, {"hello.txt", 0, 3, 1}, {"sub", 0x02, 6, 1}, {"ghost", 0, 9, 1}})
                       : Fids({{""}, {"hello.txt", 0, 3, 1}, {"sub", 0x02, 6, 1}});
    std::memcpy(img.At(Physical(2)), root.data(), root.size());
    Dir(1, 2, root.size());
    File(3, ShortAds({{kSector + 5, 4}}));  // two virtual blocks, apart on the disc
    img.Fill(kStart + 10, "first");
    img.Fill(kStart + 11, "WRONG");
    img.Fill(kStart + 12, "tail!");
    Bytes sub = Fids({{""}, {"deep.bin", 0, 8, 1}});
    std::memcpy(img.At(Physical(7)), sub.data(), sub.size());
    Dir(6, 7, sub.size());
    FileEntry deep;
    deep.flags = 1;
    deep.descriptors = LongAds({{3, 30, 0}});  // data in the physical partition
    PutFileEntry(img, Physical(8), deep);
    img.Fill(kStart + 30, "abc");
    PutTable(form);
  }

  uint32_t Physical(uint32_t virtual_block) const { return kStart + blocks[virtual_block]; }

  void File(uint32_t virtual_block, const Bytes& ads, uint8_t type = 5) {
    FileEntry fe;
    fe.file_type = type;
    fe.descriptors = ads;
    PutFileEntry(img, Physical(virtual_block), fe);
  }
  void Dir(uint32_t virtual_block, uint32_t data_block, size_t bytes) {
    File(virtual_block, ShortAds({{uint32_t(bytes), data_block}}), 4);
  }

  void PutTable(TableForm form) {
    Bytes data = VirtualTableBytes(blocks, "VATLABEL", form == TableForm::kTrailer);
    table_type = form == TableForm::kTrailer ? 0 : 248;  // the older form has no file type of its own
    if (form != TableForm::kExtents) return PutEmbedded(data, data.size());
    // Two extents, the second reached through an allocation extent at physical block 34.
    std::memcpy(img.At(kStart + 32), data.data(), 100);
    std::memcpy(img.At(kStart + 33), data.data() + 100, data.size() - 100);
    PutTableEntry(LongAds({{100, 32, 0}, {0xC0000000u | kSector, 34, 0}}), 1, data.size());
    PutAllocationExtent(34, LongAds({{uint32_t(data.size() - 100), 33, 0}}));
  }
  // The table's bytes in one piece at physical block 32; returns their count.
  uint32_t PutWholeTableAt32() {
    Bytes data = VirtualTableBytes(blocks, "");
    std::memcpy(img.At(kStart + 32), data.data(), data.size());
    return uint32_t(data.size());
  }
  void PutEmbedded(const Bytes& data, uint64_t length) { PutTableEntry(data, 3, length); }
  void PutTableEntry(const Bytes& descriptors, uint16_t flags, uint64_t length) {
    FileEntry fe;
    fe.extended = true;
    fe.file_type = table_type;
    fe.flags = flags;
    fe.descriptors = descriptors;
    fe.information_length = length;
    std::memset(img.At(kTableSector), 0, kSector);
    PutFileEntry(img, kTableSector, fe);
  }
  void PutAllocationExtent(uint32_t block, const Bytes& descriptors) {
    uint8_t* aed = img.At(kStart + block);
    StoreLe32(aed + 20, uint32_t(descriptors.size()));
    std::memcpy(aed + 24, descriptors.data(), descriptors.size());
    PutTag(aed, 258, block);
  }

  UdfLayout l;
  Image img;
  uint8_t table_type = 248;
  std::vector<uint32_t> blocks = {20, 19, 18, 17, 10, 12, 16, 15, 14, kUnused};
  static constexpr uint32_t kUnused = 0xFFFFFFFF;
};

std::u16string LabelOf(SeVolume* v) {
  uint64_t time;
  char16_t* label = nullptr;
  if (v->GetVolumeInfo(0, &time, &label) != kOk) return u"<error>";
  std::u16string s(label);
  v->FreeString(label);
  return s;
}

}  // namespace

TEST(UdfVirtualPartition, TreeReadsThroughEachFormOfTheTable) {
  for (TableForm form : {TableForm::kHeader, TableForm::kTrailer, TableForm::kExtents}) {
    SCOPED_TRACE(int(form));
    VatTree t(form, VatTree::Layout(), false);
    Opened m(t.img.bytes);
    ASSERT_EQ(m.error, kOk);
    EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"hello.txt", "sub"}));
    EXPECT_EQ(ListNames(m.volume, "sub"), std::vector<std::string>{"deep.bin"});
    Bytes hello = ReadFile(m.volume, "hello.txt", 1000);
    ASSERT_EQ(hello.size(), kSector + 5u);
    EXPECT_EQ(std::string(hello.begin(), hello.begin() + 5), "first");
    EXPECT_EQ(std::string(hello.begin() + kSector, hello.end()), "tail!");
    EXPECT_EQ(ReadFile(m.volume, "sub/deep.bin"), Bytes({'a', 'b', 'c'}));
    // The older form carries no identifier: the descriptor's stays.
    EXPECT_EQ(LabelOf(m.volume), form == TableForm::kTrailer ? u"LVLABEL" : u"VATLABEL");
  }
}

TEST(UdfVirtualPartition, UnmappableDataLeavesItsEntryUnreadable) {
  VatTree t;
  // hello.txt: an allocation extent in virtual block 10 that maps the first nine virtual blocks
  // over and over and continues in itself, far past what the table could hold.
  t.blocks.push_back(36);
  t.PutTable(TableForm::kHeader);
  t.File(3, ShortAds({{0xC0000000u | kSector, 10}}));
  std::vector<std::array<uint32_t, 2>> again(252, {9 * kSector, 0});
  again.push_back({0xC0000000u | kSector, 10});
  t.PutAllocationExtent(36, ShortAds(again));
  Opened m(t.img.bytes);
  ASSERT_EQ(m.error, kOk);
  for (const char* name : {"ghost", "hello.txt"}) {  // ghost: its File Entry's block is unused
    SeLookupResult r;
    ASSERT_EQ(LookupPath(m.volume, name, 5, &r), kOk);
    uint8_t byte;
    uint32_t count = 7;
    EXPECT_EQ(m.volume->Read(5, 0, &byte, 1, &count), kErrBadFormat) << name;
    EXPECT_EQ(count, 0u);
    m.volume->Forget(5, ~uint64_t{0});
  }
  EXPECT_EQ(ReadFile(m.volume, "sub/deep.bin").size(), 3u);  // the rest is reachable
  // but a listing never passes over an unsound entry.
  EXPECT_EQ(ListNames(m.volume, ""), std::vector<std::string>{"<error 11>"});
}

TEST(UdfVirtualPartition, UnsoundTablesFailTheOpenWithACode) {
  struct Case {
    const char* what;
    void (*spoil)(VatTree&);
    err_t code;
  };
  const Case cases[] = {
      {"missing", [](VatTree& t) { std::memset(t.img.At(VatTree::kTableSector), 0, kSector); }, kErrBadFormat},
      {"header longer than the table",
       [](VatTree& t) {
         Bytes data = VirtualTableBytes(t.blocks, "");
         StoreLe16(data.data(), uint16_t(data.size() + 4));
         t.PutEmbedded(data, data.size());
       },
       kErrBadFormat},
      {"length past the embedded data",
       [](VatTree& t) {
         Bytes data = VirtualTableBytes(t.blocks, "");
         t.PutEmbedded(data, data.size() + 4);
       },
       kErrBadFormat},
      // The table's bytes stand at physical blocks 32 and 33 in the cases below.
      {"length past its extents",
       [](VatTree& t) {
         uint32_t n = t.PutWholeTableAt32();
         t.PutTableEntry(LongAds({{n - 4, 32, 0}}), 1, n);
       },
       kErrBadFormat},
      {"extent past the partition",
       [](VatTree& t) { t.PutTableEntry(LongAds({{17 * kSector, 32, 0}}), 1, t.PutWholeTableAt32()); },
       kErrBadFormat},
      {"more entries than the partition has blocks",
       [](VatTree& t) {
         std::vector<uint32_t> many = t.blocks;
         many.resize(VatTree::kSectors - VatTree::kStart + 1, VatTree::kUnused);
         t.PutEmbedded(VirtualTableBytes(many, ""), VirtualTableBytes(many, "").size());
       },
       kErrBadFormat},
      {"entry past the partition",
       [](VatTree& t) {
         t.blocks[9] = VatTree::kSectors - VatTree::kStart;
         t.PutTable(TableForm::kHeader);
       },
       kErrBadFormat},
      {"table inside the virtual partition",
       [](VatTree& t) { t.PutTableEntry(LongAds({{100, 32, 1}, {92, 33, 1}}), 1, 192); }, kErrBadFormat},
      {"allocation extents that loop",
       [](VatTree& t) {
         t.PutTable(TableForm::kExtents);
         t.PutAllocationExtent(34, LongAds({{0xC0000000u | kSector, 34, 0}}));
       },
       kErrStackOverflow},
  };
  for (const Case& c : cases) {
    VatTree t(TableForm::kExtents);
    c.spoil(t);
    Opened m(t.img.bytes);
    EXPECT_EQ(m.error, c.code) << c.what;
  }
  // A virtual map over a partition that no physical map holds would map onto itself.
  UdfLayout l = VatTree::Layout();
  l.virtual_partition = 8;
  VatTree t(TableForm::kHeader, l);
  EXPECT_EQ(Opened(t.img.bytes).error, kErrBadFormat);
}
