// Memory pools. Routines that build strings take their allocator as a malloc_i, so the same
// routine can fill a pool (freed all at once by its owner) or hand out independent heap blocks.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/own.h"

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

// Independent zero-filled heap blocks (HeapAllocate); the receiver frees each with HeapFree.
class kd_heap_ma_c : public malloc_i {
 public:
  void* Allocate(size_t n) override { return HeapAllocate(n); }
};
