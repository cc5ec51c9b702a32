// The patch records of a container, resolved into a map from image ranges to payload bytes.
//
// Records may overlap; where they do, the one later in the patch table wins, exactly as if
// every record were copied over the bytes in table order. The map settles that once, when it
// is built (a sweep over the records sorted by offset, O(n log n)), and keeps disjoint ranges
// sorted by offset, so a read finds the few ranges it touches by binary search instead of
// looking at every record.
#pragma once
#include <cstdint>

#include "base/errors.h"
#include "base/own.h"

namespace ciso {

// A patch record, or a range of the map: image bytes [start, end) read from `payload`.
struct PatchRange {
  uint64_t start;
  uint64_t end;
  const uint8_t* payload;
};

class PatchMap {
 public:
  PatchMap() = default;
  PatchMap(const PatchMap&) = delete;
  PatchMap& operator=(const PatchMap&) = delete;

  // Builds the map from records in table order, each with end > start; the payloads must outlive
  // the map. kErrOutOfMemory when memory runs out, kErrUnknownRevision when the map would not fit
  // the address space.
  err_t Build(const PatchRange* records, uint32_t count);
  // Lays the patched bytes of image range [offset, offset + count) over `destination`.
  void Apply(uint64_t offset, uint8_t* destination, uint32_t count) const;
  uint32_t range_count() const { return count_; }

 private:
  Owned<PatchRange> ranges_;
  uint32_t count_ = 0;
};

}  // namespace ciso
