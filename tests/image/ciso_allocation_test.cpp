// The container reader under memory pressure: the Nth allocation of an open and a full read
// fails, for every N until one passes untouched. Each run ends in 14 or in the right bytes,
// and nothing leaks (host-asan checks that).
#include <gtest/gtest.h>

#include "base/own.h"
#include "container_fixture.h"

namespace {

using namespace testing_support;

const uint8_t kPayload[64] = {1, 2, 3};

// 14 or success: the result of opening and reading the whole image with allocation `n` failing;
// *taken says whether the run got that far.
err_t OpenAndRead(MemoryFolder* folder, uint32_t n, const Bytes& expected, bool* taken) {
  IsoReader* reader = nullptr;
  err_t e = OpenImage(folder->files(), &reader, MemoryFolder::kName, kNoHandle, nullptr, 0, nullptr);
  if (e) return e;
  Bytes read;
  PoolFailNextAllocations(1, n);
  e = reader->Open(nullptr);
  if (e == kOk) e = ReadAll(reader, &read);
  *taken = PoolFailNextAllocations(0) == 0;
  reader->Destroy();
  if (e == kOk) EXPECT_EQ(read, expected);
  return e;
}

TEST(CisoAllocations, EveryFailureIsOutOfMemoryOrHarmless) {
  for (uint8_t compression : {ciso::kDeflate, ciso::kLzma}) {
    SCOPED_TRACE(int(compression));
    Bytes image = SampleImage(5 * 16384 + 700);
    ciso::PackPatch patch = {0x9000, kPayload, sizeof kPayload};
    ciso::PackOptions options;
    options.compression = compression;
    options.block_size = 16384;
    options.split_size = 40000;
    options.patches = &patch, options.patch_count = 1;
    MemoryFolder folder;
    folder.AddParts(Pack(image, options));
    std::memcpy(image.data() + patch.offset, kPayload, sizeof kPayload);
    bool taken = true;
    uint32_t n = 0;
    for (; taken && n < 1000; ++n) {
      err_t e = OpenAndRead(&folder, n, image, &taken);
      EXPECT_TRUE(e == kOk || (taken && e == kErrOutOfMemory)) << "allocation " << n << ": " << e;
    }
    EXPECT_GT(n, 5u);
    EXPECT_LT(n, 1000u);
  }
}

}  // namespace
