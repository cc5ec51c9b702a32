// The kit's allocator: the C heap behind one failure-injection hook.
#include "base/own.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<uint32_t> g_allocations_before_failure{0};
std::atomic<uint32_t> g_failing_allocations{0};

// Takes one step of the test hook: true when this allocation is to fail.
bool TakeInjectedFailure() {
  if (g_failing_allocations.load(std::memory_order_relaxed) == 0) return false;
  uint32_t before = g_allocations_before_failure.load(std::memory_order_relaxed);
  while (before != 0)
    if (g_allocations_before_failure.compare_exchange_weak(before, before - 1)) return false;
  uint32_t left = g_failing_allocations.load(std::memory_order_relaxed);
  while (left != 0)
    if (g_failing_allocations.compare_exchange_weak(left, left - 1)) return true;
  return false;
}
}  // namespace

uint32_t PoolFailNextAllocations(uint32_t count, uint32_t after) {
  g_allocations_before_failure.store(after);
  return g_failing_allocations.exchange(count);
}

void* HeapAllocate(size_t bytes) {
  if (TakeInjectedFailure()) return nullptr;
  return std::calloc(1, bytes ? bytes : 1);
}

void* HeapAllocateUnzeroed(size_t bytes) {
  if (TakeInjectedFailure()) return nullptr;
  return std::malloc(bytes ? bytes : 1);
}

void* HeapResize(void* block, size_t bytes) {
  if (TakeInjectedFailure()) return nullptr;
  return std::realloc(block, bytes ? bytes : 1);
}

void HeapFree(void* block) { std::free(block); }

OwnedText16 CopyText16(const char16_t* text, ptrdiff_t length) {
  size_t n = 0;
  if (text && length < 0) {
    while (text[n]) ++n;
  } else if (text) {
    n = size_t(length);
  }
  size_t bytes;
  if (!ArrayBytes(uint64_t(n) + 1, sizeof(char16_t), &bytes)) return OwnedText16();
  auto* copy = static_cast<char16_t*>(HeapAllocate(bytes));
  if (copy && n) std::memcpy(copy, text, n * sizeof(char16_t));
  return OwnedText16(copy);
}
