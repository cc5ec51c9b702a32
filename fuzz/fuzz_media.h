// Shared by the targets that open their input as media: the input is one image file in memory,
// opened through the reader registry; after `use` the media is released and every handle the
// readers opened must be closed again.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "image/memory_source.h"
#include "isofs/media.h"

template <typename Use>
int WithFuzzedMedia(const uint8_t* data, size_t size, Use use) {
  MemoryFiles files;
  files.Add(u"\\fuzz\\image.iso", data, size);
  SeVolume* volume = nullptr;
  if (OpenMediaFrom(&files, u"\\fuzz\\image.iso", kNoHandle, kNoHandle, &volume) == kOk) {
    use(volume);
    ReleaseMedia(volume);
  }
  if (files.OpenHandles() != 0) std::abort();
  return 0;
}
