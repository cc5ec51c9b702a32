// The reader registry, IsoDd and the host scan, over files held in memory.
#include <gtest/gtest.h>

#include "container_fixture.h"
#include "image/iso_dd.h"
#include "image/source.h"

using testing_support::Bytes;
using testing_support::MemoryFolder;
using testing_support::Pack;
using testing_support::ReadAll;
using testing_support::SampleImage;

namespace {

// A plain image: sector 16 carries a volume recognition signature.
Bytes PlainImage(const char* signature, size_t size = 0x9000) {
  Bytes b = SampleImage(std::max<size_t>(size, 0x8007), 3);
  std::memcpy(b.data() + 0x8000, signature, 7);
  b.resize(size);
  return b;
}

err_t Probe(const Bytes& file, const char** name, IsoReader** out = nullptr) {
  MemoryFiles files;
  files.Add(u"\\x.iso", file.data(), file.size());
  IsoReader* reader;
  err_t e = OpenImage(&files, &reader, u"\\x.iso", kNoHandle, nullptr, 0, name);
  if (e == kOk) reader->Destroy();
  return e;
}

TEST(Registry, ProbeOrderPutsThePlainReaderFirst) {
  const ReaderFactory* f = FirstReaderFactory();
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "IsoDd");
  ASSERT_NE(f->next, nullptr);
  EXPECT_STREQ(f->next->name, "CisoReader");
  EXPECT_EQ(ReaderProbeSize(), 0x22000u);
}

TEST(Registry, EqualPrioritiesTryTheNewestFirst) {
  static ReaderFactory late = {nullptr, 5, 16, [](ImageSource*, IsoReader**, const char16_t*, file_handle_t,
                                                  const uint8_t*, uint32_t) -> err_t { return kErrBadFormat; },
                               "late"};
  static ReaderFactory equal = late;
  equal.priority = 0, equal.name = "equal";
  RegisterReaderFactory(&late);
  RegisterReaderFactory(&equal);
  std::vector<std::string> order;
  for (const ReaderFactory* f = FirstReaderFactory(); f; f = f->next) order.push_back(f->name);
  EXPECT_EQ(order, (std::vector<std::string>{"equal", "IsoDd", "CisoReader", "late"}));
}

TEST(Registry, PlainImagesAndContainers) {
  const char* name;
  EXPECT_EQ(Probe(PlainImage("\x01" "CD001\x01"), &name), kOk);
  EXPECT_STREQ(name, "IsoDd");
  EXPECT_EQ(Probe(PlainImage("\x00" "BEA01\x01"), &name), kOk);
  EXPECT_STREQ(name, "IsoDd");
  EXPECT_EQ(Probe(PlainImage("\x00" "NSR03\x01"), &name), kOk);
  EXPECT_EQ(Probe(PlainImage("\x00" "NSR04\x01"), &name), kErrBadFormat);
  EXPECT_EQ(Probe(PlainImage("\x01" "CD001\x01", 0x8006), &name), kErrBadFormat);
  // A container of a plain image is the container reader's, not the plain one's.
  ciso::PackOptions o;
  o.block_size = 4096, o.level = 1;
  EXPECT_EQ(Probe(Pack(PlainImage("\x01" "CD001\x01", 0x10000), o)[0], &name), kOk);
  EXPECT_STREQ(name, "CisoReader");
  // The factory's own codes.
  Bytes short_file(0x8006);
  IsoReader* r;
  MemoryFiles files;
  EXPECT_EQ(ciso::CreateIsoDd(&files, &r, u"\\x", 1, short_file.data(), uint32_t(short_file.size())), kErrHandleEof);
}

TEST(IsoDd, ReadsZeroFillsAndReopens) {
  Bytes image = PlainImage("\x01" "CD001\x01", 0x9100);
  MemoryFolder folder;
  folder.AddFile(u"\\d\\plain.iso", image);
  IsoReader* reader;
  ASSERT_EQ(folder.Open(&reader), kOk);
  EXPECT_EQ(reader->ImageSize(), image.size());
  Bytes back;
  ASSERT_EQ(ReadAll(reader, &back, 1000), kOk);
  EXPECT_EQ(back, image);
  uint8_t tail[200];
  ASSERT_EQ(reader->Read(image.size() - 100, tail, 200), kOk);
  EXPECT_EQ(tail[99], image.back());
  EXPECT_EQ(tail[100], 0);
  EXPECT_EQ(reader->Read(0, nullptr, 0x40000), kOk);
  reader->CloseFiles();
  EXPECT_EQ(folder.files()->OpenHandles(), 0);
  ASSERT_EQ(reader->Read(0x8000, tail, 7), kOk);
  EXPECT_EQ(std::memcmp(tail, "\x01" "CD001\x01", 7), 0);
  reader->Destroy();
}

// ---- Host scan ----

// A PE32 program: one section whose raw data ends at `data_end`, optionally a certificate table.
Bytes MakePe(uint32_t raw_pointer, uint32_t raw_size, size_t file_size, uint32_t cert_at = 0,
             uint32_t cert_size = 0) {
  Bytes b(std::max<size_t>(file_size, 0x400), 0);  // headers first, cut to size at the end
  StoreLe16(b.data(), 0x5A4D);
  StoreLe32(b.data() + 60, 0x80);
  std::memcpy(b.data() + 0x80, "PE\0\0", 4);
  StoreLe16(b.data() + 0x80 + 4, 0x14C);
  StoreLe16(b.data() + 0x80 + 6, 1);
  StoreLe16(b.data() + 0x80 + 20, 224);
  uint8_t* opt = b.data() + 0x98;
  StoreLe16(opt, 0x10B);
  StoreLe32(opt + 32, 0x1000);
  StoreLe32(opt + 36, 0x200);
  StoreLe32(opt + 92, 16);
  StoreLe32(opt + 96 + 4 * 8, cert_at);
  StoreLe32(opt + 96 + 4 * 8 + 4, cert_size);
  uint8_t* section = opt + 224;
  std::memcpy(section, ".text", 5);
  StoreLe32(section + 16, raw_size);
  StoreLe32(section + 20, raw_pointer);
  b.resize(file_size);
  return b;
}

// A certificate entry (length, revision, type) at `at`.
void PutCertificate(Bytes& b, size_t at, uint32_t length, uint16_t revision, uint16_t type) {
  StoreLe32(b.data() + at, length);
  StoreLe16(b.data() + at + 4, revision);
  StoreLe16(b.data() + at + 6, type);
}

err_t Scan(const Bytes& file, HostRegion* r) {
  MemoryFiles files;
  files.Add(u"\\h", file.data(), file.size());
  file_handle_t h;
  files.Open(u"\\h", 3, &h);
  // Only the first 4 KiB as probe: the rest must come from the file.
  err_t e = HostScan(&files, h, file.data(), uint32_t(std::min<size_t>(file.size(), 4096)), r);
  files.Close(h);
  return e;
}

TEST(HostScan, PeWithAndWithoutCertificateTable) {
  HostRegion r;
  Bytes unsigned_pe = MakePe(0x400, 0x3C600, 0x3CA00);
  ASSERT_EQ(Scan(unsigned_pe, &r), kOk);
  EXPECT_EQ(r.data_start, 0x3CA00u);
  EXPECT_EQ(r.data_end, 0u);
  EXPECT_EQ(r.after_signature, 0u);

  Bytes signed_pe = MakePe(0x400, 0x3C600, 0x146E60 + 0x100, 0x145E60, 0x1000);
  PutCertificate(signed_pe, 0x145E60, 0xFFC, 0x200, 2);
  ASSERT_EQ(Scan(signed_pe, &r), kOk);
  EXPECT_EQ(r.data_start, 0x3CA00u);
  EXPECT_EQ(r.data_end, 0x145E60u);
  EXPECT_EQ(r.after_signature, 0x146E60u + 8);

  PutCertificate(signed_pe, 0x145E60, 0xFFC, 0, 2);  // revision 0: no region behind it
  ASSERT_EQ(Scan(signed_pe, &r), kOk);
  EXPECT_EQ(r.data_end, 0x145E60u);
  EXPECT_EQ(r.after_signature, 0u);
}

TEST(HostScan, RejectsAndShortFiles) {
  HostRegion r;
  Bytes tiny = MakePe(0x400, 0x200, 100);
  EXPECT_EQ(Scan(tiny, &r), kErrHandleEof);
  Bytes bad = MakePe(0x400, 0x200, 0x600);
  StoreLe16(bad.data() + 0x80 + 20, 200);  // optional header too small
  EXPECT_EQ(Scan(bad, &r), kErrBadFormat);
  Bytes overflow = MakePe(0xFFFFFF00, 0x200, 0x600);
  EXPECT_EQ(Scan(overflow, &r), kErrBadFormat);
  Bytes odd_alignment = MakePe(0x400, 0x200, 0x600);
  StoreLe32(odd_alignment.data() + 0x98 + 36, 0x300);
  EXPECT_EQ(Scan(odd_alignment, &r), kErrBadFormat);
  EXPECT_EQ(Scan(SampleImage(1000), &r), kErrBadFormat);
}

TEST(HostScan, CabinetStub) {
  Bytes cab(4096, 0);
  std::memcpy(cab.data(), "MSCF", 4);
  std::memcpy(cab.data() + 176, "cabstub1", 8);
  StoreLe32(cab.data() + 44, 2048);
  StoreLe32(cab.data() + 48, 100);
  HostRegion r;
  ASSERT_EQ(Scan(cab, &r), kOk);
  EXPECT_EQ(r.data_start, 192u);
  EXPECT_EQ(r.data_end, 2048u);
  EXPECT_EQ(r.after_signature, 2048u + 100 + 32);
  cab[180] = 'X';
  EXPECT_EQ(Scan(cab, &r), kErrBadFormat);
}

// A 64-bit little-endian ELF file: headers, one segment and two sections, the furthest of
// which ends at 1128 (a NOBITS section claims more but holds no bytes).
Bytes MakeElf(size_t file_size) {
  Bytes b(1128, 0);  // everything first, cut to size at the end
  std::memcpy(b.data(), "\x7f" "ELF\x02\x01\x01", 7);
  StoreLe64(b.data() + 32, 64);    // program headers
  StoreLe64(b.data() + 40, 1000);  // section headers
  StoreLe16(b.data() + 54, 56), StoreLe16(b.data() + 56, 1);
  StoreLe16(b.data() + 58, 64), StoreLe16(b.data() + 60, 2);
  StoreLe64(b.data() + 64 + 8, 0), StoreLe64(b.data() + 64 + 32, 500);
  uint8_t* sh = b.data() + 1000;
  StoreLe32(sh + 4, 8), StoreLe64(sh + 24, 100), StoreLe64(sh + 32, 100000);
  StoreLe32(sh + 64 + 4, 1), StoreLe64(sh + 64 + 24, 600), StoreLe64(sh + 64 + 32, 300);
  b.resize(file_size);
  return b;
}

TEST(HostScan, ElfEndsWhereItsLastByteDoes) {
  HostRegion r;
  ASSERT_EQ(Scan(MakeElf(1128), &r), kOk);
  EXPECT_EQ(r.data_start, 1128u);
  EXPECT_EQ(r.data_end, 0u);
  EXPECT_EQ(Scan(MakeElf(1100), &r), kErrHandleEof);
}

// ---- Containers inside hosts ----

Bytes Appended(Bytes host, const Bytes& container) {
  host.resize(ciso::AlignUp(host.size()), 0);
  host.insert(host.end(), container.begin(), container.end());
  return host;
}

void ExpectReadsBack(Bytes file, const Bytes& image) {
  MemoryFolder folder;
  folder.AddFile(u"\\d\\setup.exe", std::move(file));
  IsoReader* reader;
  const char* name;
  ASSERT_EQ(folder.Open(&reader, &name), kOk);
  EXPECT_STREQ(name, "CisoReader");
  Bytes back;
  EXPECT_EQ(ReadAll(reader, &back), kOk);
  EXPECT_EQ(back, image);
  reader->Destroy();
}

TEST(HostedContainer, BehindPeElfAndBeforeASignature) {
  Bytes image = SampleImage(30000);
  ciso::PackOptions o;
  o.block_size = 8192, o.level = 1;
  Bytes container = Pack(image, o)[0];
  ExpectReadsBack(Appended(MakePe(0x400, 0x210, 0x610), container), image);
  ExpectReadsBack(Appended(MakeElf(1128), container), image);

  // Signed: the certificate table follows the container and ends the region.
  Bytes pe = Appended(MakePe(0x400, 0x210, 0x610), container);
  size_t cert_at = pe.size();
  pe.resize(cert_at + 0x400, 0);
  PutCertificate(pe, cert_at, 0x400, 0x200, 2);
  StoreLe32(pe.data() + 0x98 + 96 + 32, uint32_t(cert_at));
  StoreLe32(pe.data() + 0x98 + 96 + 36, 0x400);
  ExpectReadsBack(pe, image);

  // A signed host without a trailer in its region is refused.
  Bytes cut = pe;
  std::memset(cut.data() + cert_at - 192, 0, 192);
  MemoryFolder folder;
  folder.AddFile(u"\\d\\setup.exe", cut);
  IsoReader* reader;
  EXPECT_EQ(folder.Open(&reader), kErrBadFormat);
}

}  // namespace
