// Memory pools. Routines that build strings take their allocator as a malloc_i, so the same
// routine can fill a pool (freed all at once by its owner) or hand out independent heap blocks.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// count objects of `unit` bytes as a size_t; false when that does not fit. Sizes computed
// from counts read off a disc go through here before they are allocated: on a 32-bit build a
// count of 2^29 eight-byte entries would otherwise wrap to a small block.
inline bool ArrayBytes(uint64_t count, size_t unit, size_t* bytes) {
  if (unit != 0 && count > SIZE_MAX / unit) return false;
  *bytes = size_t(count) * unit;
  return true;
}

// One operation: allocate n zero-filled bytes, or nullptr.
class malloc_i {
 public:
  virtual void* Allocate(size_t n) = 0;

 protected:
  ~malloc_i() = default;
};

// Pool state: the trailer of the newest block, and how many allocations failed.
struct kd_mp_base_t {
  std::atomic<void*> head{nullptr};
  std::atomic<uint32_t> failures{0};
};

// A pool: each allocation is one heap block of round4(n) + 8 bytes, whose 8-byte trailer
// (next, start) links it into a lock-free list. Allocation is safe from many threads at once;
// FreeAll must not race with allocations.
class kd_mp_c : public malloc_i, public kd_mp_base_t {
 public:
  kd_mp_c() = default;
  kd_mp_c(const kd_mp_c&) = delete;
  kd_mp_c& operator=(const kd_mp_c&) = delete;
  ~kd_mp_c() { FreeAll(); }

  void* Allocate(size_t n) override;
  // Frees every block handed out so far; the pool stays usable.
  void FreeAll();
  uint32_t FailureCount() const { return failures.load(std::memory_order_relaxed); }

  // Typed helper: count zero-filled objects of T.
  template <typename T>
  T* AllocArray(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(Allocate(count * sizeof(T)));
  }
};

// The runner's pool type.
class UtPool : public kd_mp_c {};

// Independent zero-filled heap blocks; the receiver frees each with HeapFree.
class kd_heap_ma_c : public malloc_i {
 public:
  void* Allocate(size_t n) override;
};

// Frees a block from kd_heap_ma_c (null-safe).
void HeapFree(void* block);

// Test hook: makes the next `count` heap allocations of the pools fail (0 turns it off).
void PoolFailNextAllocations(uint32_t count);
