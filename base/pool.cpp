#include "base/pool.h"

#include <cstring>

namespace {
// The trailer behind each pool block.
struct Trailer {
  void* next;   // the previous head
  void* start;  // the block itself
};
}  // namespace

void* kd_mp_c::Allocate(size_t n) {
  if (n > SIZE_MAX - 16) {
    failures.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  size_t rounded = (n + 3) & ~size_t{3};
  auto* block = static_cast<uint8_t*>(HeapAllocate(rounded + sizeof(Trailer)));
  if (!block) {
    failures.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  // The trailer may sit at a 4-byte boundary only; write it bytewise.
  uint8_t* trailer = block + rounded;
  void* start = block;
  std::memcpy(trailer + offsetof(Trailer, start), &start, sizeof start);
  void* old = head.load(std::memory_order_relaxed);
  do {
    std::memcpy(trailer + offsetof(Trailer, next), &old, sizeof old);
  } while (!head.compare_exchange_weak(old, trailer, std::memory_order_release,
                                       std::memory_order_relaxed));
  return block;  // zero-filled by HeapAllocate
}

void kd_mp_c::FreeAll() {
  auto* trailer = static_cast<uint8_t*>(head.exchange(nullptr, std::memory_order_acquire));
  while (trailer) {
    void* next;
    void* start;
    std::memcpy(&next, trailer + offsetof(Trailer, next), sizeof next);
    std::memcpy(&start, trailer + offsetof(Trailer, start), sizeof start);
    HeapFree(start);
    trailer = static_cast<uint8_t*>(next);
  }
}
