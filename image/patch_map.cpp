#include "image/patch_map.h"

#include <algorithm>
#include <cstring>

namespace ciso {

err_t PatchMap::Build(const PatchRange* records, uint32_t count) {
  if (count == 0) return kOk;
  // Every range ends where a record starts or ends: at most two per record.
  size_t index_bytes, range_bytes;
  if (!ArrayBytes(count, sizeof(uint32_t), &index_bytes) ||
      !ArrayBytes(2 * uint64_t(count), sizeof(PatchRange), &range_bytes))
    return kErrUnknownRevision;
  Owned<uint32_t> order_block = Owned<uint32_t>::Array(count);
  Owned<uint32_t> active_block = Owned<uint32_t>::Array(count);  // a heap: the latest record on top
  ranges_ = Owned<PatchRange>::Array(2 * uint64_t(count));
  uint32_t* order = order_block.get();
  uint32_t* active = active_block.get();
  err_t result = order && active && ranges_ ? kOk : kErrOutOfMemory;
  if (result == kOk) {
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order, order + count, [records](uint32_t a, uint32_t b) {
      return records[a].start != records[b].start ? records[a].start < records[b].start : a < b;
    });
    uint32_t next = 0, live = 0;
    uint64_t at = 0;
    while (next < count || live > 0) {
      if (live == 0) at = records[order[next]].start;
      for (; next < count && records[order[next]].start <= at; ++next) {
        active[live++] = order[next];
        std::push_heap(active, active + live);
      }
      // Records that ended are dropped when they surface.
      while (live > 0 && records[active[0]].end <= at) std::pop_heap(active, active + live--);
      if (live == 0) continue;
      const PatchRange& top = records[active[0]];
      uint64_t to = next < count && records[order[next]].start < top.end
                        ? records[order[next]].start
                        : top.end;
      const uint8_t* bytes = top.payload + (at - top.start);
      PatchRange* last = count_ ? &ranges_[count_ - 1] : nullptr;
      if (last && last->end == at && last->payload + (at - last->start) == bytes)
        last->end = to;  // the same record goes on past a record it hides
      else
        ranges_[count_++] = {at, to, bytes};
      at = to;
    }
  }
  return result;
}

void PatchMap::Apply(uint64_t offset, uint8_t* destination, uint32_t count) const {
  uint64_t end = offset + count < offset ? UINT64_MAX : offset + count;
  // The first range that ends after `offset`: ranges are disjoint, so their ends are sorted too.
  const PatchRange* r =
      std::upper_bound(ranges_.get(), ranges_.get() + count_, offset,
                       [](uint64_t value, const PatchRange& range) { return value < range.end; });
  for (; r != ranges_.get() + count_ && r->start < end; ++r) {
    uint64_t from = r->start > offset ? r->start : offset;
    uint64_t to = r->end < end ? r->end : end;
    std::memcpy(destination + (from - offset), r->payload + (from - r->start), to - from);
  }
}

}  // namespace ciso
