// Shared by the container targets: opens an image through the reader registry from in-memory
// files and reads it all, as a setup would (real reads, with decode-ahead on) and as verify does
// (digests only), then again after the files were closed. Every handle must be closed at the end.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "image/iso_reader.h"
#include "image/memory_source.h"

inline void ReadWholeImage(MemoryFiles* files, const char16_t* path) {
  constexpr uint64_t kReadLimit = 1 << 22;  // keeps each input quick
  constexpr uint32_t kStep = 0x10000;
  IsoReader* reader;
  if (OpenImage(files, &reader, path, kNoHandle, nullptr, 0) != kOk) return;
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
  if (files->OpenHandles() != 0) std::abort();
}
