// Fuzzes the reader registry over in-memory files: the host scan, IsoDd and CisoReader's open
// (parts, trailer, locator, chunks, tables, patches), then reads of the image, real and verify,
// as far as a bound that keeps each input quick.
//
// The first byte lays the rest out as a main file and sibling part files beside it, so the
// part search sees split sets, missing and duplicated parts and any listing order:
//   bits 0-1  how many siblings (input.ciso.001, .002, ...) follow the main file, 0 to 3
//   bit 2     the siblings are listed last first
//   bit 3     the first sibling is left out (a missing part)
//   bit 4     the last sibling is there twice, the second time as input.ciso.dup
// Then one little-endian 32-bit length for each file but the last (cut to what is left), and
// the files' bytes one after the other; the last file takes the rest.
#include <cstdint>

#include "base/endian.h"
#include "fuzz/fuzz_container.h"

namespace {
constexpr int kMaxSiblings = 3;

const char16_t* const kSiblingNames[kMaxSiblings] = {u"\\fuzz\\input.ciso.001", u"\\fuzz\\input.ciso.002",
                                                      u"\\fuzz\\input.ciso.003"};

struct Slice {
  const uint8_t* bytes;
  size_t size;
};

// Splits the input as the layout byte says; false when it has no layout byte.
bool LayOut(const uint8_t* data, size_t size, MemoryFiles* files) {
  if (size == 0) return false;
  const uint8_t layout = data[0];
  const int siblings = layout & 3;
  size_t at = 1 + 4 * size_t(siblings);
  if (at > size) at = size;
  Slice slices[1 + kMaxSiblings];
  for (int i = 0; i <= siblings; ++i) {
    size_t length = size - at;
    const size_t field = 1 + 4 * size_t(i);
    if (i < siblings && field + 4 <= size && LoadLe32(data + field) < length) length = LoadLe32(data + field);
    slices[i] = {data + at, length};
    at += length;
  }
  files->Add(u"\\fuzz\\input.ciso", slices[0].bytes, slices[0].size);
  for (int n = 0; n < siblings; ++n) {
    int i = layout & 4 ? siblings - 1 - n : n;
    if (i == 0 && (layout & 8)) continue;
    files->Add(kSiblingNames[i], slices[1 + i].bytes, slices[1 + i].size);
  }
  if (siblings > 0 && (layout & 16)) files->Add(u"\\fuzz\\input.ciso.dup", slices[siblings].bytes, slices[siblings].size);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFiles files;
  if (LayOut(data, size, &files)) ReadWholeImage(&files, u"\\fuzz\\input.ciso");
  return 0;
}
