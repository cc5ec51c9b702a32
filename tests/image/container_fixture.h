// Packs generated images into in-memory containers and opens them through MemoryFiles, so the
// reader's tests run without touching the disc.
#pragma once
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/endian.h"
#include "image/ciso_reader.h"
#include "image/crc32.h"
#include "image/format.h"
#include "image/iso_reader.h"
#include "image/memory_source.h"
#include "pack/packer.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// Sectors of text, noise and zeros: every kind of block the packer makes.
inline Bytes SampleImage(size_t size, uint32_t seed = 1) {
  Bytes b(size);
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    size_t sector = i / 2048;
    x = x * 1664525u + 1013904223u;
    switch (sector % 5) {
      case 0: case 1: b[i] = uint8_t("isorun packs disc images. "[i % 26] + (sector & 1)); break;
      case 2: b[i] = uint8_t(x >> 24); break;      // noise
      case 3: b[i] = uint8_t(i % 251); break;
      default: b[i] = 0; break;
    }
  }
  return b;
}

class VectorInput final : public ciso::PackInput {
 public:
  explicit VectorInput(const Bytes& image) : image_(image) {}
  err_t Read(uint64_t offset, void* buffer, uint32_t length) override {
    if (offset + length > image_.size()) return kErrHandleEof;
    std::memcpy(buffer, image_.data() + offset, length);
    return kOk;
  }

 private:
  const Bytes& image_;
};

class VectorOutput final : public ciso::PackOutput {
 public:
  std::vector<Bytes> parts;
  err_t BeginPart(uint32_t number) override {
    if (number != parts.size()) return kErrInvalidParameter;
    parts.emplace_back();
    return kOk;
  }
  err_t Write(const void* data, uint32_t length) override {
    auto* p = static_cast<const uint8_t*>(data);
    parts.back().insert(parts.back().end(), p, p + length);
    return kOk;
  }
  err_t RewriteHeader(uint32_t number, const uint8_t* header) override {
    std::memcpy(parts.at(number).data(), header, ciso::kPartHeaderSize);
    return kOk;
  }
};

// Options for one compression, hash and block size, at a level that packs quickly.
inline ciso::PackOptions QuickOptions(uint8_t compression, uint8_t hash, uint32_t block_size) {
  ciso::PackOptions o;
  o.compression = compression;
  o.level = compression == ciso::kDeflate ? 6 : 1;
  o.hash = hash;
  o.block_size = block_size;
  return o;
}

inline std::vector<Bytes> Pack(const Bytes& image, const ciso::PackOptions& options, err_t* error = nullptr) {
  VectorInput in(image);
  VectorOutput out;
  ciso::PackResult result;
  err_t e = ciso::PackContainer(&in, image.size(), &out, options, &result);
  if (error) *error = e;
  return e ? std::vector<Bytes>{} : out.parts;
}

// A folder of in-memory files; part n of a container is "NAME" for n = 0, "NAME.00n" after.
class MemoryFolder {
 public:
  static constexpr const char16_t* kName = u"\\disc\\setup.ciso";

  void AddFile(const std::u16string& path, Bytes bytes) {
    paths_.push_back(std::make_unique<std::u16string>(path));
    bytes_.push_back(std::make_unique<Bytes>(std::move(bytes)));
    files_.Add(paths_.back()->c_str(), bytes_.back()->data(), bytes_.back()->size());
  }
  void AddParts(const std::vector<Bytes>& parts) {
    for (size_t n = 0; n < parts.size(); ++n) AddFile(PartName(n), parts[n]);
  }
  static std::u16string PartName(size_t n) {
    std::u16string name = kName;
    if (n == 0) return name;
    std::string suffix = ".00" + std::to_string(n);
    return name + std::u16string(suffix.begin(), suffix.end());
  }
  Bytes& bytes(size_t i) { return *bytes_.at(i); }
  MemoryFiles* files() { return &files_; }

  // Picks a reader for the first file and opens it.
  err_t Open(IsoReader** reader, const char** name = nullptr) {
    return OpenPath(paths_.at(0)->c_str(), reader, name);
  }
  err_t OpenPath(const char16_t* path, IsoReader** reader, const char** name = nullptr) {
    err_t e = OpenImage(&files_, reader, path, kNoHandle, nullptr, 0, name);
    if (e) return e;
    if ((e = (*reader)->Open(nullptr))) {
      (*reader)->Destroy();
      *reader = nullptr;
    }
    return e;
  }

 private:
  MemoryFiles files_;
  std::vector<std::unique_ptr<std::u16string>> paths_;
  std::vector<std::unique_ptr<Bytes>> bytes_;
};

// Reads the whole image in awkward steps.
inline err_t ReadAll(IsoReader* reader, Bytes* out, uint32_t step = 7777) {
  out->assign(reader->ImageSize(), 0xEE);
  for (uint64_t at = 0; at < out->size(); at += step) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(step, out->size() - at));
    if (err_t e = reader->Read(at, out->data() + at, n)) return e;
  }
  return kOk;
}

// Re-seals a record's CRC-32 after a test changed it (part header, trailer or chunk).
inline void Reseal(uint8_t* record, uint32_t size) {
  StoreLe32(record + ciso::kCrc, ciso::Crc32(0, record + ciso::kCrcFrom, size - ciso::kCrcFrom));
}

}  // namespace testing_support
