// Slot order of the container's interfaces: the order of their virtual operations is part of
// their contract.
#include <gtest/gtest.h>

#include "image/decompressor.h"
#include "image/hasher.h"
#include "image/iso_reader.h"
#include "support/vtable_slot.h"

using testing_support::VtableSlot;

namespace {

TEST(SlotOrder, Hashers) {
  EXPECT_EQ(VtableSlot(&ciso::CisoHasher::Destroy), 0u);
  EXPECT_EQ(VtableSlot(&ciso::CisoHasher::DigestLength), 1u);
  EXPECT_EQ(VtableSlot(&ciso::CisoHasher::Reset), 2u);
  EXPECT_EQ(VtableSlot(&ciso::CisoHasher::Update), 3u);
  EXPECT_EQ(VtableSlot(&ciso::CisoHasher::Finish), 4u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::Destroy), 0u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::DigestLength), 1u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::BlockLength), 2u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::OidText), 3u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::Init), 4u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::Update), 5u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDigest::Finish), 6u);
}

TEST(SlotOrder, Decompressor) {
  EXPECT_EQ(VtableSlot(&ciso::CisoDecompressor::Destroy), 0u);
  EXPECT_EQ(VtableSlot(&ciso::CisoDecompressor::Decode), 1u);
}

TEST(SlotOrder, Reader) {
  EXPECT_EQ(VtableSlot(&IsoReader::Destroy), 0u);
  EXPECT_EQ(VtableSlot(&IsoReader::Open), 1u);
  EXPECT_EQ(VtableSlot(&IsoReader::SectorSize), 2u);
  EXPECT_EQ(VtableSlot(&IsoReader::ImageSize), 3u);
  EXPECT_EQ(VtableSlot(&IsoReader::SessionCount), 4u);
  EXPECT_EQ(VtableSlot(&IsoReader::SessionStart), 5u);
  EXPECT_EQ(VtableSlot(&IsoReader::Read), 6u);
  EXPECT_EQ(VtableSlot(&IsoReader::CloseFiles), 7u);
}

}  // namespace
