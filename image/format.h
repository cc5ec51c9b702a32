// The compressed image container's on-disc records: part header, image trailer, extension
// chunks (the trailer locator among them) and patch records, as named offsets and sizes.
//
// Every integer is little-endian; every size and offset inside a container is a multiple of
// the 32-byte grain. Readers and the packer both work from these names.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ciso {

inline constexpr uint32_t kGrain = 32;
inline constexpr uint64_t AlignUp(uint64_t v) { return (v + kGrain - 1) & ~uint64_t{kGrain - 1}; }
inline constexpr uint64_t AlignDown(uint64_t v) { return v & ~uint64_t{kGrain - 1}; }
inline constexpr bool IsAligned(uint64_t v) { return (v & (kGrain - 1)) == 0; }

// Fields shared by the part header and the image trailer.
inline constexpr size_t kMagic = 0;  // 4 bytes
inline constexpr size_t kCrc = 4;    // CRC-32 of the record from offset 8 to its end
inline constexpr size_t kCrcFrom = 8;
inline constexpr size_t kFormatA = 8;       // must be non-zero
inline constexpr size_t kFormatB = 9;       // must be 0 or 1
inline constexpr size_t kFormatC = 10;      // not checked
inline constexpr size_t kContentType = 11;  // 5 bytes, NUL-padded "iso"
inline constexpr size_t kContentTypeSize = 5;
inline constexpr size_t kImageId = 16;  // 16 bytes
inline constexpr size_t kIdSize = 16;

// Part header.
inline constexpr uint32_t kPartHeaderSize = 96;
inline constexpr char kPartMagic[4] = {'c', 'i', '%', 'p'};
inline constexpr size_t kPartSetId = 32;      // 16 bytes
inline constexpr size_t kLogicalOffset = 48;  // 8 bytes
inline constexpr size_t kPartNumber = 56;     // 4 bytes

// Image trailer.
inline constexpr uint32_t kTrailerSize = 192;
inline constexpr char kTrailerMagic[4] = {'c', 'i', '%', 'm'};
inline constexpr size_t kHashMethod = 32;
inline constexpr size_t kEncryptionMethod = 33;
inline constexpr size_t kBlockCount = 64;      // 8 bytes
inline constexpr size_t kBlockSize = 72;       // 4 bytes
inline constexpr size_t kLastBlockSize = 76;   // 4 bytes
inline constexpr size_t kPatchTableSize = 80;  // 4 bytes
inline constexpr size_t kCompressionMethod = 84;
inline constexpr size_t kLzmaProperties = 85;
inline constexpr size_t kTableDigest = 128;        // up to 32 bytes
inline constexpr size_t kDigestedTrailerFrom = 8;  // trailer bytes 8..127 close the table digest
inline constexpr size_t kDigestedTrailerSize = 120;

// Extension chunk header, and the trailer locator (a 64-byte chunk of type 1).
inline constexpr uint32_t kChunkHeaderSize = 16;
inline constexpr char kChunkMagic[4] = {'c', 'i', '%', 'x'};
inline constexpr size_t kChunkLength = 8;  // 4 bytes
inline constexpr size_t kChunkType = 12;
inline constexpr size_t kLocatorImageId = 16;   // 16 bytes
inline constexpr size_t kLocatorDistance = 32;  // 8 bytes: part end back to trailer end
inline constexpr uint32_t kLocatorSize = 64;
inline constexpr uint8_t kChunkLocator = 1;
inline constexpr uint8_t kChunkKeyMaterial = 2;

// Patch record in the patch table.
inline constexpr char kPatchTag[4] = {'p', 't', 'c', 'h'};
inline constexpr size_t kPatchTagAt = 0;
inline constexpr size_t kPatchLength = 4;  // 4 bytes
inline constexpr size_t kPatchOffset = 8;  // 8 bytes
inline constexpr uint32_t kPatchHeaderSize = 16;

// Methods and limits.
enum HashMethod : uint8_t { kHashNone = 0, kHashCrc32 = 1, kHashSha256 = 2 };
enum CompressionMethod : uint8_t { kStored = 0, kDeflate = 1, kLzma = 3 };
inline constexpr uint32_t kMinBlockSize = 2048;
inline constexpr uint32_t kMaxBlockSize = 0x400000;
inline constexpr uint32_t kSectorSize = 2048;

// Format bytes A, B, C and the content type, as the packer writes them.
inline constexpr uint8_t kFormatBytes[8] = {1, 1, 1, 'i', 's', 'o', 0, 0};

}  // namespace ciso
