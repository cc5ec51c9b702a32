// Fuzzes the reader registry over one in-memory file: the host scan, IsoDd and CisoReader's
// open (parts, trailer, locator, chunks, tables, patches), then reads of the image, real and
// verify, as far as a bound that keeps each input quick.
#include <cstdint>
#include <cstdlib>

#include "image/iso_reader.h"
#include "image/memory_source.h"

namespace {
constexpr uint64_t kReadLimit = 1 << 22;
constexpr uint32_t kStep = 0x10000;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFiles files;
  files.Add(u"\\fuzz\\input.ciso", data, size);
  IsoReader* reader;
  if (OpenImage(&files, &reader, u"\\fuzz\\input.ciso", kNoHandle, nullptr, 0) != kOk) return 0;
  if (reader->Open(nullptr) == kOk) {
    static uint8_t buffer[kStep];
    uint64_t end = reader->ImageSize() < kReadLimit ? reader->ImageSize() : kReadLimit;
    for (uint64_t at = 0; at < end; at += kStep) reader->Read(at, nullptr, kStep);
    for (uint64_t at = 0; at < end; at += kStep) reader->Read(at, buffer, kStep);
    reader->Read(reader->ImageSize() - 1, buffer, 2);
    reader->CloseFiles();
    reader->Read(0, buffer, 100);
  }
  reader->Destroy();
  if (files.OpenHandles() != 0) std::abort();  // every handle the readers opened is closed
  return 0;
}
