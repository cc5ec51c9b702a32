// The host scan: where container data lies inside a program file. The PE rules cover the
// Windows runner (image after the last section, before an Authenticode certificate table),
// the cabinet-stub rules a cabinet-based stub, and the ELF rule the Linux runner (image after
// the ELF file's last byte).
#include <cstring>
#include <initializer_list>

#include "base/endian.h"
#include "image/iso_reader.h"
#include "image/source.h"

namespace {

constexpr uint32_t kFirstNeed = 128;
constexpr uint32_t kWindowSize = 4096;
constexpr err_t kNotThisRule = kErrBadFormat;

// The file's bytes as the rules ask for them: from the probe buffer when it holds them, else
// from the file through a small window. A request past the end of the file fails with 38 and
// the failure sticks, so a rule can read several fields and check once.
class ScanBytes {
 public:
  ScanBytes(ImageSource* source, file_handle_t handle, const uint8_t* probe, uint32_t probe_length)
      : source_(source), handle_(handle), probe_(probe), probe_length_(probe ? probe_length : 0) {
    file_size_ = probe_length_;
    uint64_t size;
    if (!IsNoHandle(handle) && source->Size(handle, &size) == kOk && size > file_size_)
      file_size_ = size;
  }

  err_t error() const { return error_; }

  bool Get(uint64_t offset, void* out, uint32_t length) {
    if (error_) return false;
    if (offset > file_size_ || length > file_size_ - offset) {
      error_ = kErrHandleEof;
      return false;
    }
    if (offset + length <= probe_length_) {
      std::memcpy(out, probe_ + offset, length);
      return true;
    }
    uint8_t* p = static_cast<uint8_t*>(out);
    while (length > 0) {
      if (!InWindow(offset) && (error_ = Fill(offset))) return false;
      uint64_t at = offset - window_start_;
      uint32_t n = window_length_ - static_cast<uint32_t>(at);
      if (n > length) n = length;
      std::memcpy(p, window_ + at, n);
      p += n, offset += n, length -= n;
    }
    return true;
  }

  uint16_t U16(uint64_t offset, bool big = false) {
    uint8_t b[2] = {};
    Get(offset, b, 2);
    return big ? LoadBe16(b) : LoadLe16(b);
  }
  uint32_t U32(uint64_t offset, bool big = false) {
    uint8_t b[4] = {};
    Get(offset, b, 4);
    return big ? LoadBe32(b) : LoadLe32(b);
  }
  uint64_t U64(uint64_t offset, bool big = false) {
    uint8_t b[8] = {};
    Get(offset, b, 8);
    return big ? LoadBe64(b) : LoadLe64(b);
  }

 private:
  bool InWindow(uint64_t offset) const {
    return window_length_ > 0 && offset >= window_start_ && offset - window_start_ < window_length_;
  }
  err_t Fill(uint64_t offset) {
    if (IsNoHandle(handle_)) return kErrHandleEof;
    window_start_ = offset;
    window_length_ = 0;
    uint32_t want = file_size_ - offset < kWindowSize ? static_cast<uint32_t>(file_size_ - offset)
                                                      : kWindowSize;
    if (err_t e = ReadExactly(source_, handle_, offset, window_, want)) return e;
    window_length_ = want;
    return kOk;
  }

  ImageSource* source_;
  file_handle_t handle_;
  const uint8_t* probe_;
  uint32_t probe_length_;
  uint64_t file_size_ = 0;
  err_t error_ = kOk;
  uint8_t window_[kWindowSize];
  uint64_t window_start_ = 0;
  uint32_t window_length_ = 0;
};

bool IsPowerOfTwoIn(uint32_t v, uint32_t low, uint32_t high) {
  return v >= low && v <= high && (v & (v - 1)) == 0;
}

// PE: the region starts where the furthest section's raw data ends and stops at the first
// certificate entry; a real signature entry leaves a second region behind the table.
err_t PeRules(ScanBytes& f, HostRegion* r) {
  if (f.U16(0) != 0x5A4D) return f.error() ? f.error() : kNotThisRule;
  uint32_t pe = f.U32(60);
  if (f.error()) return f.error();
  if (pe % 4 != 0) return kNotThisRule;
  uint32_t signature = f.U32(pe);
  uint16_t sections = f.U16(pe + 6);
  uint16_t optional_size = f.U16(pe + 20);
  uint16_t magic = f.U16(pe + 24);
  if (f.error()) return f.error();
  if (signature != 0x00004550 || sections == 0 || optional_size % 4 != 0 || optional_size < 224)
    return kNotThisRule;
  uint64_t optional = uint64_t(pe) + 24;
  uint64_t directory_count_at, directories;
  if (magic == 0x10B) {
    directory_count_at = optional + 92, directories = optional + 96;
  } else if (magic == 0x20B && optional_size >= 240) {
    directory_count_at = optional + 108, directories = optional + 112;
  } else {
    return kNotThisRule;
  }
  uint32_t directory_count = f.U32(directory_count_at);
  uint32_t section_alignment = f.U32(optional + 32), file_alignment = f.U32(optional + 36);
  if (f.error()) return f.error();
  if (directory_count < 16 || !IsPowerOfTwoIn(section_alignment, 4, 16384) ||
      !IsPowerOfTwoIn(file_alignment, 4, 16384))
    return kNotThisRule;

  uint64_t data_start = 0;
  uint64_t table = optional + optional_size;
  for (uint32_t i = 0; i < sections; ++i) {
    uint64_t s = table + 40ull * i;
    uint64_t end = uint64_t(f.U32(s + 20)) + f.U32(s + 16);  // raw data pointer + size
    if (f.error()) return f.error();
    if (end > 0xFFFFFFFFull) return kNotThisRule;
    if (end > data_start) data_start = end;
  }

  uint64_t cert_start = f.U32(directories + 4 * 8), cert_size = f.U32(directories + 4 * 8 + 4);
  if (f.error()) return f.error();
  *r = {data_start, 0, 0};
  if (cert_start == 0 && cert_size == 0) return kOk;  // unsigned
  uint64_t cert_end = cert_start + cert_size;
  if (cert_start % 4 != 0 || cert_end % 4 != 0 || cert_end >= 0xFFFFFFFFull) return kNotThisRule;
  bool found = false;
  for (uint64_t at = cert_start; at + 8 <= cert_end;) {
    uint32_t length = f.U32(at);
    uint16_t revision = f.U16(at + 4), type = f.U16(at + 6);
    if (f.error()) return f.error();
    if (length == 0 || at + length > cert_end) break;
    if (!found) r->data_end = at, found = true;
    at = (at + length + 7) & ~uint64_t{7};
    if (revision != 0 && type != 0) r->after_signature = at + 8;
  }
  return kOk;
}

// A cabinet-based stub: the region starts at 192 and ends where the stub says.
err_t CabinetRules(ScanBytes& f, HostRegion* r) {
  uint8_t magic[4];
  if (!f.Get(0, magic, 4)) return f.error();
  if (std::memcmp(magic, "MSCF", 4) != 0) return kNotThisRule;
  uint8_t header[192];
  if (!f.Get(0, header, sizeof header)) return f.error();
  uint64_t x = LoadLe32(header + 44), y = LoadLe32(header + 184);
  if (y == 0 && x != 0) y = LoadLe32(header + 48) + x + 32;
  if (std::memcmp(header + 176, "cabstub1", 8) != 0) return kNotThisRule;
  if ((x != 0 && x < 192) || (y != 0 && x == 0) || y < x) return kNotThisRule;
  *r = {192, x, y};
  return kOk;
}

// ELF (the Linux runner): the region starts after the file's last byte, the furthest end of
// the headers, the program segments and the section contents.
err_t ElfRule(ScanBytes& f, HostRegion* r) {
  uint8_t ident[16];
  if (!f.Get(0, ident, sizeof ident)) return f.error();
  if (std::memcmp(ident,
                  "\x7f"
                  "ELF",
                  4) != 0 ||
      (ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2))
    return kNotThisRule;
  bool wide = ident[4] == 2, big = ident[5] == 2;
  auto Word = [&](uint64_t at) { return wide ? f.U64(at, big) : f.U32(at, big); };
  uint64_t header_size = wide ? 64 : 52;
  uint64_t ph_offset = Word(wide ? 32 : 28), sh_offset = Word(wide ? 40 : 32);
  uint64_t ph_size = f.U16(wide ? 54 : 42, big), ph_count = f.U16(wide ? 56 : 44, big);
  uint64_t sh_size = f.U16(wide ? 58 : 46, big), sh_count = f.U16(wide ? 60 : 48, big);
  if (f.error()) return f.error();
  if ((ph_count && ph_size < (wide ? 56u : 32u)) || (sh_count && sh_size < (wide ? 64u : 40u)) ||
      (sh_offset && !sh_count))  // extended section numbering: not a runner of ours
    return kNotThisRule;
  constexpr uint64_t kLimit = uint64_t{1} << 48;  // keeps every sum below from overflowing
  uint64_t end = header_size;
  auto Reach = [&](uint64_t offset, uint64_t size) {
    if (offset >= kLimit || size >= kLimit) return false;
    if (offset + size > end) end = offset + size;
    return true;
  };
  if (!Reach(ph_offset, ph_count * ph_size) || !Reach(sh_offset, sh_count * sh_size))
    return kNotThisRule;
  for (uint64_t i = 0; i < ph_count; ++i) {
    uint64_t p = ph_offset + i * ph_size;
    bool ok = Reach(Word(p + (wide ? 8 : 4)), Word(p + (wide ? 32 : 16)));
    if (f.error()) return f.error();
    if (!ok) return kNotThisRule;
  }
  for (uint64_t i = 0; i < sh_count; ++i) {
    uint64_t s = sh_offset + i * sh_size;
    constexpr uint32_t kNoBits = 8;  // occupies no bytes in the file
    uint32_t type = f.U32(s + 4, big);
    uint64_t offset = Word(s + (wide ? 24 : 16)), size = Word(s + (wide ? 32 : 20));
    if (f.error()) return f.error();
    if (type != kNoBits && !Reach(offset, size)) return kNotThisRule;
  }
  *r = {end, 0, 0};
  return kOk;
}

}  // namespace

err_t HostScan(ImageSource* source, file_handle_t handle, const uint8_t* probe,
               uint32_t probe_length, HostRegion* region) {
  *region = {0, 0, 0};
  ScanBytes bytes(source, handle, probe, probe_length);
  uint8_t first[kFirstNeed];
  if (!bytes.Get(0, first, kFirstNeed)) return bytes.error();
  for (auto rule : {PeRules, CabinetRules, ElfRule}) {
    HostRegion found;
    err_t e = rule(bytes, &found);
    if (e == kOk) {
      *region = found;
      return kOk;
    }
    if (e != kNotThisRule) return e;
  }
  return kErrBadFormat;
}
