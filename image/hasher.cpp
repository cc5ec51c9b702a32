#include "image/hasher.h"

#include <cstring>

#include "base/endian.h"
#include "base/own.h"
#include "image/crc32.h"
#include "image/format.h"

namespace ciso {
namespace {

void Sha256InitState(void* state) { Sha256Init(static_cast<Sha256State*>(state)); }
void Sha256UpdateState(void* state, const void* data, size_t length) {
  Sha256Update(static_cast<Sha256State*>(state), data, length);
}
void Sha256FinishState(void* state, uint8_t* out) {
  Sha256Finish(static_cast<Sha256State*>(state), out);
}

constexpr size_t kMaxDigest = 64;

class Digest final : public CisoDigest {
 public:
  Digest(const DigestAlgorithm* algorithm, const char* oid) : algorithm_(algorithm), oid_(oid) {
    algorithm_->init(&state_);
  }
  void Destroy() override { HeapDelete(this); }
  uint32_t DigestLength() override { return algorithm_->digest_length; }
  uint32_t BlockLength() override { return algorithm_->block_length; }
  const char* OidText() override { return oid_; }
  void Init() override { algorithm_->init(&state_); }
  void Update(const void* data, size_t length) override {
    algorithm_->update(&state_, data, length);
  }
  void Finish(uint8_t* out, size_t out_length) override {
    uint8_t full[kMaxDigest];
    algorithm_->finish(&state_, full);
    size_t n = out_length < algorithm_->digest_length ? out_length : algorithm_->digest_length;
    std::memcpy(out, full, n);
    if (out_length > n) std::memset(out + n, 0, out_length - n);
  }

 private:
  const DigestAlgorithm* algorithm_;
  const char* oid_;
  Sha256State state_;
};

class Crc32Hasher final : public CisoHasher {
 public:
  void Destroy() override { HeapDelete(this); }
  uint32_t DigestLength() override { return 4; }
  void Reset() override { crc_ = 0; }
  void Update(const void* data, uint32_t length) override { crc_ = Crc32(crc_, data, length); }
  void Finish(uint8_t* out) override { StoreLe32(out, crc_); }

 private:
  uint32_t crc_ = 0;
};

class Sha256Hasher final : public CisoHasher {
 public:
  explicit Sha256Hasher(CisoDigest* digest) : digest_(digest) {}
  void Destroy() override {
    digest_->Destroy();
    HeapDelete(this);
  }
  uint32_t DigestLength() override { return kSha256DigestSize; }
  void Reset() override { digest_->Init(); }
  void Update(const void* data, uint32_t length) override { digest_->Update(data, length); }
  void Finish(uint8_t* out) override { digest_->Finish(out, kSha256DigestSize); }

 private:
  CisoDigest* digest_;
};

}  // namespace

const DigestAlgorithm kSha256Algorithm = {kAlgorithmSha256, kSha256DigestSize, kSha256BlockSize,
                                          Sha256InitState,  Sha256UpdateState, Sha256FinishState};

err_t CreateSha256Digest(CisoDigest** out) {
  *out = HeapNew<Digest>(&kSha256Algorithm, kSha256Oid);
  return *out ? kOk : kErrOutOfMemory;
}

err_t CreateCrc32Hasher(CisoHasher** out) {
  *out = HeapNew<Crc32Hasher>();
  return *out ? kOk : kErrOutOfMemory;
}

err_t CreateSha256Hasher(CisoHasher** out) {
  *out = nullptr;
  CisoDigest* digest;
  if (err_t e = CreateSha256Digest(&digest)) return e;
  *out = HeapNew<Sha256Hasher>(digest);
  if (*out) return kOk;
  digest->Destroy();
  return kErrOutOfMemory;
}

err_t CreateHasher(uint8_t method, CisoHasher** out) {
  *out = nullptr;
  switch (method) {
    case kHashNone: return kOk;
    case kHashCrc32: return CreateCrc32Hasher(out);
    case kHashSha256: return CreateSha256Hasher(out);
    default: return kErrUnknownRevision;
  }
}

}  // namespace ciso
