// ISO 9660 volumes over hand-made records: version suffixes, name encodings, multi-extent files,
// extended attribute records, interleaved files, dates and damaged directories.
#include <gtest/gtest.h>

#include <map>

#include "image_builder.h"

using namespace isofs_test;

namespace {

// A primary volume (or, with `version` 2, an enhanced one after it) whose root holds `records`.
Bytes OneDirectory(const std::vector<Record>& records, uint8_t enhanced_version = 0,
                   const std::string& escapes = "") {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  if (enhanced_version) PutVolumeDescriptor(img, 17, 2, enhanced_version, "E", escapes, 20, kSector);
  PutDirectory(img, 20, kSector, records);
  for (uint32_t s = 30; s < 40; ++s) img.Fill(s, "sector" + std::to_string(s));
  return img.bytes;
}

Record File(const std::string& id, uint32_t extent = 30, uint32_t size = 10) { return {id, extent, size}; }

}  // namespace

TEST(CfsNames, VersionSuffixRule) {
  Opened m(OneDirectory({File("README.TXT;1"), File("FILE.;1"), File("A;01"), File("B;0"),
                         File("C;40000"), File("D;32767"), File("E;"), File(".;1"), File("F.G;1X")}));
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{".", "A;01", "B;0", "C;40000", "D",
                                                               "E;", "F.G;1X", "FILE", "README.TXT"}));
}

TEST(CfsNames, EnhancedVolumesAndDirectoriesKeepTheirSuffix) {
  Record dir{"D;1", 22, kSector, 2};
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutVolumeDescriptor(img, 17, 2, 2, "E", "", 21, kSector);
  PutDirectory(img, 20, kSector, {File("A;1"), dir});
  PutDirectory(img, 21, kSector, {File("A;1"), dir});
  PutDirectory(img, 22, kSector, {});
  Opened m(img.bytes);
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ".$media/volume01"), (std::vector<std::string>{"A", "D;1"}));
  EXPECT_EQ(ListNames(m.volume, ".$media/volume02"), (std::vector<std::string>{"A;1", "D;1"}));
}

TEST(CfsNames, ShortNameTakenFirstComesFirst) {
  Opened m(OneDirectory({File("A;2", 30, 2), File("A;1", 31, 1)}));
  std::vector<SeEntryInfo> infos;
  EXPECT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"A", "A;1"}));
  EXPECT_EQ(infos[0].size, 2u);
  EXPECT_EQ(infos[1].size, 1u);
}

TEST(CfsNames, EscapeSequencesChooseTheEncoding) {
  {
    Opened m(OneDirectory({File(Ucs2("wide.txt;1"))}, 1, "%/E"));
    EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"wide.txt"}));
  }
  {
    // No escape sequence: the supplementary volume reads its names through the code page.
    Opened m(OneDirectory({File("PLAIN;1")}, 1, ""));
    EXPECT_EQ(ListNames(m.volume, ".$media"), (std::vector<std::string>{"image.iso", "volume01", "volume02"}));
    EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"PLAIN"}));
  }
  {
    // UTF-8 on an enhanced volume; an incomplete last character is cut.
    Opened m(OneDirectory({File("gr\xC3\xBC\xC3")}, 2, "%/I"));
    EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"gr\xC3\xBC"}));
  }
}

TEST(CfsNames, NamesFoldCaseBeyondAscii) {
  // Joliet "Äpfel" (U+00C4) and "apfel" sort by folded code points; lookups fold both sides.
  Opened m(OneDirectory({File(std::string("\0\xC4", 2) + Ucs2("pfel")), File(Ucs2("apfel")), File(Ucs2("Zebra"))},
                        1, "%/@"));
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"apfel", "Zebra", "\xC3\x84pfel"}));
  SeLookupResult r;
  EXPECT_EQ(LookupPath(m.volume, "\xC3\xA4PFEL", 1, &r), kOk);
  EXPECT_EQ(LookupPath(m.volume, "ZEBRA", 2, &r), kOk);
  EXPECT_EQ(LookupPath(m.volume, "\xC3\xA4pfe", 3, &r), kErrFileNotFound);
}

Record Continued(const std::string& id, uint32_t extent, uint32_t size) {
  Record r = File(id, extent, size);
  r.flags = 0x80;  // multi-extent: the next record continues the file
  return r;
}

TEST(CfsExtents, MultiExtentRecordsJoinIntoOneFile) {
  Opened m(OneDirectory({Continued("BIG.BIN;1", 33, kSector), Continued("BIG.BIN;1", 31, kSector),
                         File("BIG.BIN;1", 35, 7), File("NEXT;1", 30, 3)}));
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"BIG.BIN", "NEXT"}));
  EXPECT_EQ(infos[0].size, 2u * kSector + 7);
  Bytes data = ReadFile(m.volume, "BIG.BIN", 1500);
  ASSERT_EQ(data.size(), 2u * kSector + 7);
  EXPECT_EQ(std::string(data.begin(), data.begin() + 8), "sector33");
  EXPECT_EQ(std::string(data.begin() + kSector, data.begin() + kSector + 8), "sector31");
  EXPECT_EQ(std::string(data.begin() + 2 * kSector, data.end()), "sector3");
}

TEST(CfsExtents, EqualIdentifiersWithoutTheMultiExtentFlagStayApart) {
  Opened m(OneDirectory({File("TWO;1", 31, 5), File("TWO;1", 33, 6)}));
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos).size(), 2u);
  EXPECT_EQ(infos[0].size + infos[1].size, 11u);
}

TEST(CfsExtents, AssociatedFilesAreSkipped) {
  Record associated = File("MAIN.TXT;1", 31, 5);
  associated.flags = 0x04;
  Opened m(OneDirectory({associated, File("MAIN.TXT;1", 33, 7)}));
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"MAIN.TXT"}));
  EXPECT_EQ(infos[0].size, 7u);
  EXPECT_EQ(ReadFile(m.volume, "MAIN.TXT", 1500), Bytes({'s', 'e', 'c', 't', 'o', 'r', '3'}));
}

TEST(CfsExtents, InterleavedFilesHaveNoData) {
  Record r = File("INTER;1", 30, 5000);
  r.unit_size = 1, r.gap = 1;
  Record first = r;
  first.flags = 0x80;
  Opened m(OneDirectory({first, r}));
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"INTER"}));
  EXPECT_EQ(infos[0].size, 0u);
  EXPECT_EQ(infos[0].modification_time, 0u);
}

TEST(CfsDates, ExtendedAttributeRecords) {
  Record one = File("ONE;1", 30, 4);
  one.ear_length = 1;
  Record ear = File("EAR;1", 32, 4);
  ear.ear_length = 250;
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutDirectory(img, 20, kSector, {one, ear});
  img.Fill(31, "data");
  img.Fill(33, "more");
  PutLongDate(img.At(32, 10), "1999123123595900", 0);
  PutLongDate(img.At(32, 27), "2010060708091000", -8);  // -02:00
  Opened m(img.bytes);
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"EAR", "ONE"}));
  // One block of attributes: the data starts a sector later, dates from the record.
  EXPECT_EQ(ReadFile(m.volume, "ONE"), Bytes({'d', 'a', 't', 'a'}));
  EXPECT_EQ(infos[1].modification_time, 125912558450000000u);
  EXPECT_EQ(infos[1].creation_time, 0u);
  EXPECT_EQ(ReadFile(m.volume, "EAR"), Bytes({'m', 'o', 'r', 'e'}));
  EXPECT_EQ(infos[0].creation_time, 125911583990000000u);      // 1999-12-31 23:59:59 UTC
  EXPECT_EQ(infos[0].modification_time, 129203789500000000u);  // 2010-06-07 10:09:10 UTC
}

TEST(CfsDates, InvalidDatesAreUnknown) {
  Record zero = File("Z;1");
  zero.date[1] = 0;  // month 0
  Record feb = File("F;1");
  feb.date[0] = 101, feb.date[1] = 2, feb.date[2] = 29;  // 2001-02-29
  Record leap = File("L;1");
  leap.date[0] = 100, leap.date[1] = 2, leap.date[2] = 29;  // 2000-02-29
  Opened m(OneDirectory({zero, feb, leap}));
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"F", "L", "Z"}));
  EXPECT_EQ(infos[0].modification_time, 0u);
  EXPECT_EQ(infos[1].modification_time, 125962670450000000u);  // 2000-02-29 03:04:05
  EXPECT_EQ(infos[2].modification_time, 0u);
}

// A directory read in part fails its listing, whatever came before the damage.
TEST(CfsDamage, ShortRecordFailsTheDirectory) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutDirectory(img, 20, kSector, {File("A;1"), File("B;1"), File("C;1")});
  // The third record's length says 20: too short for a record.
  uint8_t* p = img.At(20);
  for (int i = 0; i < 4; ++i) p += p[0];
  p[0] = 20;
  Opened m(img.bytes);
  EXPECT_EQ(ListNames(m.volume, ""), std::vector<std::string>{"<error 11>"});
}

TEST(CfsDamage, IdentifierPastTheRecordFailsTheDirectory) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutDirectory(img, 20, kSector, {File("A;1"), File("B;1")});
  uint8_t* p = img.At(20);
  for (int i = 0; i < 3; ++i) p += p[0];
  p[32] = 200;
  Opened m(img.bytes);
  EXPECT_EQ(ListNames(m.volume, ""), std::vector<std::string>{"<error 11>"});
}

TEST(CfsDamage, ExtentsPastTheImageReadAsZeros) {
  Opened m(OneDirectory({File("FAR;1", 0x7FFFFFF0, 100), File("HOLE;1", 0, 100)}));
  EXPECT_EQ(ReadFile(m.volume, "FAR"), Bytes(100, 0));
  EXPECT_EQ(ReadFile(m.volume, "HOLE"), Bytes(100, 0));
}

// A directory claiming more than the image holds fails at once instead of being read sector by
// sector up to the image's end; a lookup through it fails the same way.
TEST(CfsDamage, DirectoryReachingPastTheImageFails) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutDirectory(img, 20, kSector, {{"HUGE", 38, 0xFFFFF800u, 2}});
  PutDirectory(img, 38, kSector, {File("A;1"), File("B;1")});
  Opened m(img.bytes);
  EXPECT_EQ(ListNames(m.volume, "HUGE"), std::vector<std::string>{"<error 11>"});
  SeLookupResult r;
  EXPECT_EQ(LookupPath(m.volume, "HUGE/A", 5, &r), kErrBadFormat);
  Image far(40);
  PutVolumeDescriptor(far, 16, 1, 1, "P", "", 20, kSector);
  PutDirectory(far, 20, kSector, {{"FAR", 39, 2 * kSector, 2}});  // its second sector is past the end
  PutDirectory(far, 39, kSector, {File("A;1")});
  Opened n(far.bytes);
  EXPECT_EQ(ListNames(n.volume, "FAR"), std::vector<std::string>{"<error 11>"});
}

// A directory record pointing back at an ancestor (here the root, and one level further down)
// makes a directory that contains itself: expanding it fails instead of going on for ever.
TEST(CfsDamage, DirectoryPointingBackAtAnAncestorFails) {
  Opened m(OneDirectory({{"LOOP", 20, kSector, 2}}));
  SeLookupResult r;
  EXPECT_EQ(LookupPath(m.volume, "LOOP", 5, &r), kOk);
  m.volume->Forget(5, ~uint64_t{0});
  EXPECT_EQ(LookupPath(m.volume, "LOOP/LOOP/LOOP", 5, &r), kErrBadFormat);
  EXPECT_EQ(ListNames(m.volume, "LOOP"), std::vector<std::string>{"<error 11>"});
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutDirectory(img, 20, kSector, {{"A", 22, kSector, 2}, {"B", 24, kSector, 2}});
  PutDirectory(img, 22, kSector, {{"C", 23, kSector, 2}});
  PutDirectory(img, 23, kSector, {{"UP", 22, kSector, 2}});  // back to A
  PutDirectory(img, 24, kSector, {{"SAME", 22, kSector, 2}});  // A's data, but not an ancestor
  Opened n(img.bytes);
  EXPECT_EQ(ListNames(n.volume, "A/C"), std::vector<std::string>{"UP"});
  EXPECT_EQ(ListNames(n.volume, "A/C/UP"), std::vector<std::string>{"<error 11>"});
  EXPECT_EQ(ListNames(n.volume, "B/SAME"), std::vector<std::string>{"C"});
}

namespace {

// System Use entries: signature, length, version 1, data.
std::string Su(const char* signature, const std::string& data) {
  return std::string(signature, 2) + char(4 + data.size()) + '\1' + data;
}
std::string Both32(uint32_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 4; ++i) s[i] = char(v >> (8 * i)), s[7 - i] = char(v >> (8 * i));
  return s;
}
const std::string kSp = Su("SP", std::string("\xBE\xEF\0", 3));
const std::string kEr = Su("ER", std::string("\x0A\0\0\1", 4) + "RRIP_1991A");
std::string Ce(uint32_t sector, uint32_t length) { return Su("CE", Both32(sector) + Both32(0) + Both32(length)); }

// A primary volume with Rock Ridge whose root holds `records`, and a Joliet volume whose root
// holds "joliet"; sectors 30 and up hold what `areas` puts there.
Bytes RockImage(const std::vector<Record>& records, const std::map<uint32_t, std::string>& areas = {}) {
  Image img(40);
  PutVolumeDescriptor(img, 16, 1, 1, "P", "", 20, kSector);
  PutVolumeDescriptor(img, 17, 2, 1, "J", "%/E", 21, kSector);
  PutDirectory(img, 20, kSector, records, kSp + kEr);
  PutDirectory(img, 21, kSector, {File(Ucs2("joliet"))});
  for (auto& [sector, bytes] : areas) std::memcpy(img.At(sector), bytes.data(), bytes.size());
  return img.bytes;
}

Record RockFile(const std::string& id, const std::string& system_use) {
  Record r = File(id, 30, 4);
  r.system_use = system_use;
  return r;
}

}  // namespace

TEST(CfsRockRidge, NamesModesAndLinksWinOverJoliet) {
  std::string link = Su("SL", std::string("\0", 1) + std::string("\0\2..", 4) + std::string("\0\6target", 8));
  Opened m(RockImage({RockFile("A.;1", Su("NM", std::string("\0", 1) + "Mixed Name.txt") +
                                           Su("PX", Both32(0100750) + Both32(1) + Both32(0) + Both32(0))),
                      RockFile("B.;1", Su("NM", std::string("\0", 1) + "up") + link)}));
  ASSERT_EQ(m.error, kOk);
  std::vector<SeEntryInfo> infos;
  ASSERT_EQ(ListNames(m.volume, "", 900, &infos), (std::vector<std::string>{"Mixed Name.txt", "up"}));
  EXPECT_EQ(infos[0].mode, 0100750u);
  EXPECT_EQ(infos[1].type, kSeTypeLink);
  Bytes target = ReadFile(m.volume, "up");
  EXPECT_EQ(std::string(target.begin(), target.end()), "../target");
  EXPECT_EQ(ListNames(m.volume, ".$media/volume02"), (std::vector<std::string>{"joliet"}));
}

TEST(CfsRockRidge, NameGoesOnInAContinuationArea) {
  Opened m(RockImage({RockFile("A.;1", Su("NM", std::string("\1", 1) + "long") + Ce(30, 9))},
                     {{30, Su("NM", std::string("\0", 1) + "name")}}));
  ASSERT_EQ(m.error, kOk);
  EXPECT_EQ(ListNames(m.volume, ""), (std::vector<std::string>{"longname"}));
}

TEST(CfsRockRidge, LoopingContinuationsAndBadEntriesFailTheDirectory) {
  for (const std::string& system_use : {Ce(30, 28), Su("NM", "") .substr(0, 2) + std::string("\2\1", 2)}) {
    Opened m(RockImage({RockFile("A.;1", system_use)}, {{30, Ce(30, 28)}}));
    ASSERT_EQ(m.error, kOk);
    SeLookupResult r;
    EXPECT_EQ(LookupPath(m.volume, "A", 1, &r), kErrBadFormat);
  }
}
