// The ownership kit: every heap block of the product is taken and given back here. One
// allocator (zero-filled blocks, null when memory runs out) with one test hook that fails
// chosen allocations; an owning pointer, a growable array and owned text copies on top of it.
// Nothing here throws: a failure is a null pointer or the code kErrOutOfMemory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "base/errors.h"

// count objects of `unit` bytes as a size_t; false when that does not fit. Sizes computed
// from counts read off a disc go through here before they are allocated: on a 32-bit build a
// count of 2^29 eight-byte entries would otherwise wrap to a small block.
inline bool ArrayBytes(uint64_t count, size_t unit, size_t* bytes) {
  if (unit != 0 && count > SIZE_MAX / unit) return false;
  *bytes = size_t(count) * unit;
  return true;
}

// A zero-filled block of `bytes` (0 still gives a valid block), or null.
void* HeapAllocate(size_t bytes);
// The same without the zeros, for a buffer written before it is read: a large one then costs
// no memory until it is used.
void* HeapAllocateUnzeroed(size_t bytes);
// Resizes a block from here (null: a new one) like realloc: null leaves the block as it was,
// and bytes past the old size are not zeroed.
void* HeapResize(void* block, size_t bytes);
// Gives a block back (null-safe).
void HeapFree(void* block);

// Test hook: after `after` more allocations succeed, the next `count` fail (count 0 turns it
// off). Every allocation of the kit counts, the pools' included. Returns how many failures of
// the previous setting were never taken.
uint32_t PoolFailNextAllocations(uint32_t count, uint32_t after = 0);

// An object constructed in a heap block, or null.
template <typename T, typename... Args>
T* HeapNew(Args&&... args) {
  void* memory = HeapAllocate(sizeof(T));
  return memory ? ::new (memory) T(std::forward<Args>(args)...) : nullptr;
}

// Destroys an object from HeapNew and frees its block (null-safe).
template <typename T>
void HeapDelete(T* object) {
  if (!object) return;
  object->~T();
  HeapFree(object);
}

// Owns one object from HeapNew, or a zero-filled array of plain values from Array().
template <typename T>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T* object) : object_(object) {}
  Owned(Owned&& other) : object_(other.release()) {}
  Owned& operator=(Owned&& other) {
    reset(other.release());
    return *this;
  }
  ~Owned() { reset(); }

  // `count` zero-filled values; empty when the size does not fit or memory runs out.
  static Owned Array(uint64_t count) {
    static_assert(std::is_trivially_destructible_v<T> &&
                  std::is_trivially_default_constructible_v<T>);
    size_t bytes;
    return Owned(ArrayBytes(count, sizeof(T), &bytes) ? static_cast<T*>(HeapAllocate(bytes))
                                                      : nullptr);
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  T& operator[](size_t i) const { return object_[i]; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the object to the caller, who frees it with HeapDelete (HeapFree for values).
  T* release() {
    T* object = object_;
    object_ = nullptr;
    return object;
  }
  void reset(T* object = nullptr) {
    T* old = object_;
    object_ = object;
    HeapDelete(old);
  }

 private:
  T* object_ = nullptr;
};

// A terminated heap copy of text: freed with HeapFree, or owned as an OwnedText16.
using OwnedText16 = Owned<char16_t>;
// `length` units of `text` (-1: up to its terminator; null text: an empty copy), or empty.
OwnedText16 CopyText16(const char16_t* text, ptrdiff_t length = -1);

// A growable array of movable objects; 14 when it cannot grow, and then nothing changed.
template <typename T>
class OwnedArray {
 public:
  OwnedArray() = default;
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  ~OwnedArray() {
    Truncate(0);
    HeapFree(items_);
  }

  size_t size() const { return size_; }
  T* data() const { return items_; }
  T* begin() const { return items_; }
  T* end() const { return items_ + size_; }
  T& operator[](size_t i) const { return items_[i]; }

  err_t Reserve(size_t count) {
    if (count <= capacity_) return kOk;
    size_t bytes;
    T* grown =
        ArrayBytes(count, sizeof(T), &bytes) ? static_cast<T*>(HeapAllocate(bytes)) : nullptr;
    if (!grown) return kErrOutOfMemory;
    for (size_t i = 0; i < size_; ++i) {
      ::new (&grown[i]) T(std::move(items_[i]));
      items_[i].~T();
    }
    HeapFree(items_);
    items_ = grown;
    capacity_ = count;
    return kOk;
  }
  // Grows to `count` items, the new ones value-initialised.
  err_t Resize(size_t count) {
    if (err_t e = Reserve(count)) return e;
    for (; size_ < count; ++size_) ::new (&items_[size_]) T();
    return kOk;
  }
  err_t Append(T item) {
    if (size_ == capacity_ && size_ < SIZE_MAX / 2) {
      if (err_t e = Reserve(size_ + size_ / 4 + 4)) return e;
    }
    if (size_ == capacity_) return kErrOutOfMemory;
    ::new (&items_[size_++]) T(std::move(item));
    return kOk;
  }
  void Truncate(size_t count) {
    while (size_ > count) items_[--size_].~T();
  }

 private:
  T* items_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
