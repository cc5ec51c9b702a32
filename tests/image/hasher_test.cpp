#include "image/hasher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/crc32.h"
#include "image/sha256.h"

namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kDigits[p[i] >> 4], s += kDigits[p[i] & 15];
  return s;
}

std::string Sha256Hex(const std::string& data, ciso::Sha256Compress compress, size_t step) {
  ciso::Sha256State s;
  ciso::Sha256Init(&s, compress);
  for (size_t at = 0; at < data.size(); at += step)
    ciso::Sha256Update(&s, data.data() + at, std::min(step, data.size() - at));
  uint8_t out[32];
  ciso::Sha256Finish(&s, out);
  return Hex(out, 32);
}

struct Vector {
  std::string message;
  const char* digest;
};

std::vector<Vector> Sha256Vectors() {
  return {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
}

// Every vector, fed whole and in awkward pieces, through one compression function.
void CheckVectors(ciso::Sha256Compress compress) {
  for (const Vector& v : Sha256Vectors())
    for (size_t step : {size_t(1) << 30, size_t(1), size_t(63), size_t(65), size_t(4099)}) {
      if (step == 1 && v.message.size() > 1000) continue;
      EXPECT_EQ(Sha256Hex(v.message, compress, step), v.digest) << v.message.size() << " by " << step;
    }
}

TEST(Sha256, PortableMatchesKnownVectors) { CheckVectors(ciso::Sha256CompressPortable); }

TEST(Sha256, ShaExtensionsMatchKnownVectors) {
  ciso::Sha256Compress fast = ciso::Sha256CompressShaExtensions();
  if (!fast) GTEST_SKIP() << "this processor has no SHA extensions";
  CheckVectors(fast);
  EXPECT_EQ(ciso::Sha256BestCompress(), fast);
}

TEST(Sha256, BothPathsAgreeOnEveryTailLength) {
  ciso::Sha256Compress fast = ciso::Sha256CompressShaExtensions();
  if (!fast) GTEST_SKIP() << "this processor has no SHA extensions";
  std::string data;
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(Sha256Hex(data, fast, 7), Sha256Hex(data, ciso::Sha256CompressPortable, 1000)) << i;
    data += char(i * 37 + 11);
  }
}

TEST(Crc32, KnownValuesAndChaining) {
  EXPECT_EQ(ciso::Crc32(0, "abc", 3), 0x352441C2u);
  EXPECT_EQ(ciso::Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(ciso::Crc32(ciso::Crc32(0, "1234", 4), "56789", 5), 0xCBF43926u);
  EXPECT_EQ(ciso::Crc32(0, "", 0), 0u);
}

TEST(Hashers, CreatedByMethod) {
  ciso::CisoHasher* h = reinterpret_cast<ciso::CisoHasher*>(1);
  EXPECT_EQ(ciso::CreateHasher(0, &h), kOk);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(ciso::CreateHasher(3, &h), kErrUnknownRevision);
  EXPECT_EQ(h, nullptr);

  ASSERT_EQ(ciso::CreateHasher(1, &h), kOk);
  EXPECT_EQ(h->DigestLength(), 4u);
  h->Reset();
  h->Update("abc", 3);
  uint8_t crc[4];
  h->Finish(crc);
  EXPECT_EQ(Hex(crc, 4), "c2412435");  // little-endian 0x352441C2
  h->Destroy();

  ASSERT_EQ(ciso::CreateHasher(2, &h), kOk);
  EXPECT_EQ(h->DigestLength(), 32u);
  h->Reset();
  h->Update("ab", 2);
  h->Reset();  // forgets what came before
  h->Update("a", 1);
  h->Update("bc", 2);
  uint8_t sha[32];
  h->Finish(sha);
  EXPECT_EQ(Hex(sha, 32), Sha256Vectors()[1].digest);
  h->Destroy();
}

TEST(Hashers, DigestObjectCutsAndPadsItsOutput) {
  ciso::CisoDigest* d;
  ASSERT_EQ(ciso::CreateSha256Digest(&d), kOk);
  EXPECT_EQ(d->DigestLength(), 32u);
  EXPECT_EQ(d->BlockLength(), 64u);
  EXPECT_STREQ(d->OidText(), "2.16.840.1.101.3.4.2.1");
  uint8_t shorter[8], longer[40];
  d->Init();
  d->Update("abc", 3);
  d->Finish(shorter, sizeof shorter);
  EXPECT_EQ(Hex(shorter, 8), "ba7816bf8f01cfea");
  d->Init();
  d->Update("abc", 3);
  std::fill(longer, longer + 40, 0xEE);
  d->Finish(longer, sizeof longer);
  EXPECT_EQ(Hex(longer, 32), Sha256Vectors()[1].digest);
  EXPECT_EQ(Hex(longer + 32, 8), "0000000000000000");
  d->Destroy();
}

}  // namespace
