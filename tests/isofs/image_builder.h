// Hand-made disc images for the file-system tests: sectors of ISO 9660 descriptors and
// directory records, and of UDF descriptors (anchors, the volume descriptor sequence, file set,
// File Entries, identifiers), laid out by the tests themselves. They cover what no tool writes
// (interleaved records, extended attribute records, looping allocation extents, metadata
// partitions) and run everywhere, the Wine leg included, through MemoryFiles.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/endian.h"
#include "image/memory_source.h"
#include "isofs/media.h"
#include "isofs/se_volume.h"

namespace isofs_test {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSector = 2048;

inline void PutBoth32(uint8_t* p, uint32_t v) {
  StoreLe32(p, v);
  StoreBe32(p + 4, v);
}
inline void PutBoth16(uint8_t* p, uint16_t v) {
  StoreLe16(p, v);
  p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

class Image {
 public:
  explicit Image(uint32_t sectors) : bytes(size_t(sectors) * kSector) {}
  uint8_t* At(uint32_t sector, uint32_t offset = 0) { return bytes.data() + size_t(sector) * kSector + offset; }
  void Fill(uint32_t sector, const std::string& text) { std::memcpy(At(sector), text.data(), text.size()); }
  Bytes bytes;
};

// ---- ISO 9660 ------------------------------------------------------------------------------

// The 17-byte date form.
inline void PutLongDate(uint8_t* p, const char* digits16, int8_t zone) {
  std::memcpy(p, digits16, 16);
  p[16] = uint8_t(zone);
}

struct Record {
  std::string id;  // raw identifier bytes ("\0" and "\1" for "." and "..")
  uint32_t extent = 0;
  uint32_t size = 0;
  uint8_t flags = 0;
  uint8_t ear_length = 0;
  uint8_t unit_size = 0, gap = 0;
  uint8_t date[7] = {100, 1, 2, 3, 4, 5, 0};  // 2000-01-02 03:04:05 UTC
  std::string system_use;                     // System Use entries (SUSP, Rock Ridge)
};

inline uint32_t RecordLength(const Record& r) {
  uint32_t length = 33 + uint32_t(r.id.size());
  length += length & 1;
  length += uint32_t(r.system_use.size());
  return length + (length & 1);
}

// Writes a directory record at p; returns its length.
inline uint32_t PutRecord(uint8_t* p, const Record& r) {
  uint32_t length = RecordLength(r);
  std::memset(p, 0, length);
  p[0] = uint8_t(length);
  p[1] = r.ear_length;
  PutBoth32(p + 2, r.extent);
  PutBoth32(p + 10, r.size);
  std::memcpy(p + 18, r.date, 7);
  p[25] = r.flags;
  p[26] = r.unit_size;
  p[27] = r.gap;
  PutBoth16(p + 28, 1);
  p[32] = uint8_t(r.id.size());
  std::memcpy(p + 33, r.id.data(), r.id.size());
  std::memcpy(p + 33 + r.id.size() + ((r.id.size() & 1) ^ 1), r.system_use.data(), r.system_use.size());
  return length;
}

// A directory's sectors from its records (records never cross a sector); "." and ".." first.
inline void PutDirectory(Image& img, uint32_t sector, uint32_t self_size, const std::vector<Record>& records,
                         const std::string& dot_system_use = "") {
  uint32_t at = 0;
  Record dot{std::string(1, '\0'), sector, self_size, 2};
  dot.system_use = dot_system_use;
  Record dotdot{std::string(1, '\1'), sector, self_size, 2};
  at += PutRecord(img.At(sector, at), dot);
  at += PutRecord(img.At(sector, at), dotdot);
  for (const Record& r : records) {
    uint32_t length = RecordLength(r);
    if (at % kSector + length > kSector) at = (at / kSector + 1) * kSector;
    at += PutRecord(img.At(sector) + at, r);
  }
}

// A volume descriptor: type 1 primary, 2 supplementary (escapes, version 1) or enhanced (2).
inline void PutVolumeDescriptor(Image& img, uint32_t sector, uint8_t type, uint8_t version,
                                const std::string& label, const std::string& escapes,
                                uint32_t root_extent, uint32_t root_size) {
  uint8_t* d = img.At(sector);
  d[0] = type;
  std::memcpy(d + 1, "CD001", 5);
  d[6] = version;
  std::memset(d + 40, ' ', 32);
  std::memcpy(d + 40, label.data(), label.size() < 32 ? label.size() : 32);
  std::memcpy(d + 88, escapes.data(), escapes.size());
  PutBoth32(d + 80, img.bytes.size() / kSector);
  PutBoth16(d + 128, kSector);
  Record root{std::string(1, '\0'), root_extent, root_size, 2};
  PutRecord(d + 156, root);
  PutLongDate(d + 813, "2001020304050600", 0);
  PutLongDate(d + 830, "2002030405060700", 4);  // +01:00
}

inline void PutTerminator(Image& img, uint32_t sector) {
  uint8_t* d = img.At(sector);
  d[0] = 255;
  std::memcpy(d + 1, "CD001", 5);
  d[6] = 1;
}

inline void PutRecognition(Image& img, uint32_t sector, const char* id) {
  uint8_t* d = img.At(sector);
  d[0] = 0;
  std::memcpy(d + 1, id, 5);
  d[6] = 1;
}

// UCS-2 big-endian bytes of an ASCII text.
inline std::string Ucs2(const std::string& s) {
  std::string out;
  for (char c : s) out += '\0', out += c;
  return out;
}

// ---- UDF -----------------------------------------------------------------------------------

// A descriptor tag with its checksum (the CRC is left 0: only the checksum counts).
inline void PutTag(uint8_t* d, uint16_t id, uint32_t location) {
  StoreLe16(d, id);
  StoreLe16(d + 2, 2);
  StoreLe32(d + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + d[i]);
  d[4] = sum;
}

inline void PutLongAd(uint8_t* p, uint32_t length, uint32_t block, uint16_t partition) {
  StoreLe32(p, length);
  StoreLe32(p + 4, block);
  StoreLe16(p + 8, partition);
}

inline void PutShortAd(uint8_t* p, uint32_t length, uint32_t block) {
  StoreLe32(p, length);
  StoreLe32(p + 4, block);
}

// 2003-04-05 06:07:08.09 in a zone of +60 minutes (type 1).
inline void PutTimestamp(uint8_t* p, uint16_t year = 2003, int16_t zone = 60) {
  StoreLe16(p, uint16_t(0x1000 | (zone & 0xFFF)));
  StoreLe16(p + 2, year);
  p[4] = 4, p[5] = 5, p[6] = 6, p[7] = 7, p[8] = 8, p[9] = 9, p[10] = 0, p[11] = 0;
}

// A dstring of n bytes holding 8-bit characters.
inline void PutDstring(uint8_t* p, uint32_t n, const std::string& s) {
  std::memset(p, 0, n);
  if (s.empty()) return;
  p[0] = 8;
  std::memcpy(p + 1, s.data(), s.size());
  p[n - 1] = uint8_t(s.size() + 1);
}

struct UdfLayout {
  uint32_t sectors = 400;
  uint32_t partition_start = 300;  // physical partition 0 starts here
  uint32_t anchor = 256;
  uint32_t vds = 32;               // main sequence: PVD, PD, LVD, terminator
  std::string volume_id = "PVDLABEL";
  std::string lv_id = "LVLABEL";
  std::string fsd_lv_id;
  std::string fs_id;
  uint32_t block_size = 2048;
  bool metadata = false;           // add a metadata partition map (map 1)
  uint32_t metadata_file = 0;      // its metadata file's block in partition 0
  uint32_t metadata_mirror = 0;    // its mirror file's block in partition 0
  bool sparable = false;           // a sparable map of partition 7 after the physical one
  uint32_t sparing_table = 290;    // its sparing table's sector
  bool virtual_map = false;        // a virtual map (the next map) through a virtual allocation table
  uint16_t virtual_partition = 7;  // the partition number it names
  uint32_t fsd_block = 0;          // file set descriptor: block in the map below
  uint16_t fsd_partition = 0;
  uint32_t root_block = 1;
  uint16_t root_partition = 0;
};

// Writes anchor, sequence and file set descriptor; the caller writes the root's File Entry and
// everything below it.
inline void PutUdfVolume(Image& img, const UdfLayout& l) {
  PutRecognition(img, 16, "BEA01");
  PutRecognition(img, 17, "NSR02");
  PutRecognition(img, 18, "TEA01");
  uint8_t* a = img.At(l.anchor);
  StoreLe32(a + 16, 4 * kSector);
  StoreLe32(a + 20, l.vds);
  PutTag(a, 2, l.anchor);
  uint8_t* pvd = img.At(l.vds);
  PutDstring(pvd + 24, 32, l.volume_id);
  PutTimestamp(pvd + 376, 2001);
  PutTag(pvd, 1, l.vds);
  uint8_t* pd = img.At(l.vds + 1);
  StoreLe16(pd + 22, 7);  // partition number 7
  StoreLe32(pd + 188, l.partition_start);
  StoreLe32(pd + 192, l.sectors - l.partition_start);
  PutTag(pd, 5, l.vds + 1);
  uint8_t* lvd = img.At(l.vds + 2);
  PutDstring(lvd + 84, 128, l.lv_id);
  StoreLe32(lvd + 212, l.block_size);
  PutLongAd(lvd + 248, kSector, l.fsd_block, l.fsd_partition);
  uint32_t at = 440, maps = 0;
  lvd[at] = 1, lvd[at + 1] = 6;
  StoreLe16(lvd + at + 4, 7);
  at += 6, ++maps;
  if (l.sparable) {
    uint8_t* m = lvd + at;
    m[0] = 2, m[1] = 64;
    std::memcpy(m + 5, "*UDF Sparable Partition", 23);
    StoreLe16(m + 38, 7);
    StoreLe16(m + 40, 32);  // packet length
    m[42] = 1;              // one copy of the table
    StoreLe32(m + 44, kSector);
    StoreLe32(m + 48, l.sparing_table);
    at += 64, ++maps;
  }
  if (l.virtual_map) {
    uint8_t* m = lvd + at;
    m[0] = 2, m[1] = 64;
    std::memcpy(m + 5, "*UDF Virtual Partition", 23);
    StoreLe16(m + 28, 0x0250);  // the revision in the identifier suffix
    StoreLe16(m + 38, l.virtual_partition);
    at += 64, ++maps;
  }
  if (l.metadata) {
    uint8_t* m = lvd + at;
    m[0] = 2, m[1] = 64;
    std::memcpy(m + 5, "*UDF Metadata Partition", 23);
    StoreLe16(m + 38, 7);
    StoreLe32(m + 40, l.metadata_file);
    StoreLe32(m + 44, l.metadata_mirror);
    at += 64, ++maps;
  }
  StoreLe32(lvd + 264, at - 440);
  StoreLe32(lvd + 268, maps);
  PutTag(lvd, 6, l.vds + 2);
  PutTag(img.At(l.vds + 3), 8, l.vds + 3);
}

// A sparing table that moves the packets starting at `originals` to `sectors`.
inline void PutSparingTable(Image& img, uint32_t sector, const std::vector<std::pair<uint32_t, uint32_t>>& moved) {
  uint8_t* t = img.At(sector);
  std::memcpy(t + 17, "*UDF Sparing Table", 18);
  StoreLe16(t + 48, uint16_t(moved.size() + 1));
  uint8_t* e = t + 56;
  for (auto& [original, to] : moved) StoreLe32(e, original), StoreLe32(e + 4, to), e += 8;
  StoreLe32(e, 0xFFFFFFFF), StoreLe32(e + 4, 399);  // a spare packet still free
}

inline void PutFileSet(Image& img, uint32_t sector, const UdfLayout& l) {
  uint8_t* f = img.At(sector);
  PutTimestamp(f + 16, 2004);
  PutDstring(f + 112, 128, l.fsd_lv_id);
  PutDstring(f + 304, 32, l.fs_id);
  PutLongAd(f + 400, kSector, l.root_block, l.root_partition);
  PutTag(f, 256, 0);
}

// A File Entry (or Extended File Entry) at a sector: file type, ICB flags, extended attributes
// and the allocation descriptor area as given.
struct FileEntry {
  bool extended = false;
  uint8_t file_type = 5;
  uint16_t flags = 0;  // low 3 bits: descriptor type
  uint32_t permissions = 0;
  Bytes attributes;
  Bytes descriptors;
  uint32_t ea_icb_length = 0, ea_icb_block = 0;
  uint16_t ea_icb_partition = 0;
  uint64_t information_length = 0;
};

inline void PutFileEntry(Image& img, uint32_t sector, const FileEntry& fe) {
  uint8_t* f = img.At(sector);
  f[27] = fe.file_type;
  StoreLe16(f + 34, fe.flags);
  StoreLe32(f + 44, fe.permissions);
  StoreLe64(f + 56, fe.information_length);
  uint32_t ea_len = fe.extended ? 208 : 168, area = fe.extended ? 216 : 176;
  PutTimestamp(f + (fe.extended ? 92 : 84), 2005);
  if (fe.extended) PutTimestamp(f + 104, 2006);
  PutLongAd(f + (fe.extended ? 136 : 112), fe.ea_icb_length, fe.ea_icb_block, fe.ea_icb_partition);
  StoreLe32(f + ea_len, uint32_t(fe.attributes.size()));
  StoreLe32(f + ea_len + 4, uint32_t(fe.descriptors.size()));
  std::copy(fe.attributes.begin(), fe.attributes.end(), f + area);
  std::copy(fe.descriptors.begin(), fe.descriptors.end(), f + area + fe.attributes.size());
  PutTag(f, fe.extended ? 266 : 261, sector);
}

inline Bytes LongAds(const std::vector<std::array<uint32_t, 3>>& ads) {
  Bytes out(ads.size() * 16);
  for (size_t i = 0; i < ads.size(); ++i) PutLongAd(out.data() + 16 * i, ads[i][0], ads[i][1], uint16_t(ads[i][2]));
  return out;
}

inline Bytes ShortAds(const std::vector<std::array<uint32_t, 2>>& ads) {
  Bytes out(ads.size() * 8);
  for (size_t i = 0; i < ads.size(); ++i) PutShortAd(out.data() + 8 * i, ads[i][0], ads[i][1]);
  return out;
}

// The data of a virtual allocation table: a header (with a logical volume identifier) before
// the entries, or in the older form the entries before the "*UDF Virtual Alloc Tbl" trailer.
inline Bytes VirtualTableBytes(const std::vector<uint32_t>& blocks, const std::string& lv_id, bool old_form = false) {
  Bytes out(old_form ? 0 : 152);
  if (!old_form) {
    StoreLe16(out.data(), 152);
    PutDstring(out.data() + 4, 128, lv_id);
    StoreLe32(out.data() + 132, 0xFFFFFFFF);
    StoreLe16(out.data() + 144, 0x0250);
  }
  for (uint32_t b : blocks) {
    out.resize(out.size() + 4);
    StoreLe32(out.data() + out.size() - 4, b);
  }
  if (old_form) {
    Bytes trailer(36);
    std::memcpy(trailer.data() + 1, "*UDF Virtual Alloc Tbl", 22);
    StoreLe32(trailer.data() + 32, 0xFFFFFFFF);
    out.insert(out.end(), trailer.begin(), trailer.end());
  }
  return out;
}

// File identifier descriptors, packed into a directory's data.
struct Fid {
  std::string name;  // empty: the parent entry
  uint8_t characteristics = 0;
  uint32_t icb_block = 0;
  uint16_t icb_partition = 0;
  uint16_t implementation_use = 0;
};

inline Bytes Fids(const std::vector<Fid>& fids) {
  Bytes out;
  for (const Fid& f : fids) {
    Bytes d(38);
    d[18] = f.name.empty() ? uint8_t(0x08 | 0x02) : f.characteristics;
    PutLongAd(d.data() + 20, kSector, f.icb_block, f.icb_partition);
    StoreLe16(d.data() + 36, f.implementation_use);
    d.resize(38 + f.implementation_use);
    if (!f.name.empty()) {
      d.push_back(8);
      d.insert(d.end(), f.name.begin(), f.name.end());
      d[19] = uint8_t(f.name.size() + 1);
    }
    while (d.size() % 4) d.push_back(0);
    PutTag(d.data(), 257, 0);
    out.insert(out.end(), d.begin(), d.end());
  }
  return out;
}

// ---- Opening and walking -------------------------------------------------------------------

// Opens bytes held in memory as media.
class Opened {
 public:
  explicit Opened(const Bytes& bytes) : bytes_(bytes) {
    files_.Add(u"\\mem\\image.iso", bytes_.data(), bytes_.size());
    error = OpenMediaFrom(&files_, u"\\mem\\image.iso", kNoHandle, kNoHandle, &volume);
  }
  ~Opened() { ReleaseMedia(volume); }
  err_t error;
  SeVolume* volume = nullptr;

 private:
  Bytes bytes_;
  MemoryFiles files_;
};

// Path components from "a/b/c" (empty: none).
class Path {
 public:
  explicit Path(const std::string& path) {
    size_t start = 0;
    while (start < path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      parts_.push_back(path.substr(start, end - start));
      start = end + 1;
    }
    for (const std::string& p : parts_)
      components_.push_back({nullptr, 0, p.c_str(), uint32_t(p.size())});
  }
  const SePathComponent* data() const { return components_.data(); }
  uint32_t size() const { return uint32_t(components_.size()); }

 private:
  std::vector<std::string> parts_;
  std::vector<SePathComponent> components_;
};

inline err_t LookupPath(SeVolume* v, const std::string& path, uint64_t id, SeLookupResult* r) {
  Path p(path);
  return v->Lookup(p.data(), p.size(), id, r, nullptr);
}

// Collects every entry of one listing, accepting all.
class Collect final : public SeListResult {
 public:
  bool OnEntry(const SeEntryInfo* info, const char* name, bool* more) override {
    names.push_back(name);
    infos.push_back(*info);
    *more = true;
    return true;
  }
  void OnEnd() override { ++ends; }
  std::vector<std::string> names;
  std::vector<SeEntryInfo> infos;
  int ends = 0;
};

// The names of a directory (looked up under `id`, listed on stream 1, then forgotten); a
// listing that fails ends with "<error N>".
inline std::vector<std::string> ListNames(SeVolume* v, const std::string& path, uint64_t id = 900,
                                          std::vector<SeEntryInfo>* infos = nullptr) {
  SeLookupResult r;
  if (LookupPath(v, path, id, &r) != kOk) return {"<lookup failed>"};
  Collect c;
  if (err_t e = v->List(r.node_id, 1, &c)) c.names.push_back("<error " + std::to_string(e) + ">");
  v->Forget(r.node_id, ~uint64_t{0});
  if (infos) *infos = c.infos;
  return c.names;
}

// A file's bytes, read in pieces of `step`.
inline Bytes ReadFile(SeVolume* v, const std::string& path, uint32_t step = 65536, uint64_t id = 901) {
  SeLookupResult r;
  if (LookupPath(v, path, id, &r) != kOk) return {};
  Bytes out(r.info.size);
  for (uint64_t at = 0; at < r.info.size;) {
    uint32_t got = 0;
    uint32_t want = uint32_t(r.info.size - at < step ? r.info.size - at : step);
    if (v->Read(r.node_id, at, out.data() + at, want, &got) != kOk || got == 0) break;
    at += got;
  }
  v->Forget(r.node_id, ~uint64_t{0});
  return out;
}

}  // namespace isofs_test
