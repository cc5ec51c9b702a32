// Block hashing: the digest object, the CisoHasher interface the container reader works
// through, and its two implementations, Crc32Hasher and Sha256Hasher.
//
// A container's hash method byte picks the hasher: kHashNone, kHashCrc32 or kHashSha256. The same
// hasher yields the table digest at open and every block digest at fetch.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "image/sha256.h"

namespace ciso {

// What a digest object knows of its algorithm.
struct DigestAlgorithm {
  uint32_t number;
  uint32_t digest_length;
  uint32_t block_length;
  void (*init)(void* state);
  void (*update)(void* state, const void* data, size_t length);
  void (*finish)(void* state, uint8_t* out);  // writes digest_length bytes
};

inline constexpr uint32_t kAlgorithmSha256 = 1;
extern const DigestAlgorithm kSha256Algorithm;
inline constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";

// A running digest of one algorithm.
class CisoDigest {
 public:
  virtual void Destroy() = 0;
  virtual uint32_t DigestLength() = 0;
  virtual uint32_t BlockLength() = 0;
  virtual const char* OidText() = 0;
  virtual void Init() = 0;
  virtual void Update(const void* data, size_t length) = 0;
  // Writes min(out_length, digest length) bytes and zeroes the rest of `out`.
  virtual void Finish(uint8_t* out, size_t out_length) = 0;

 protected:
  ~CisoDigest() = default;
};

// A new SHA-256 digest object (already initialised); kErrOutOfMemory when memory runs out.
err_t CreateSha256Digest(CisoDigest** out);

class CisoHasher {
 public:
  virtual void Destroy() = 0;
  virtual uint32_t DigestLength() = 0;
  virtual void Reset() = 0;
  virtual void Update(const void* data, uint32_t length) = 0;
  virtual void Finish(uint8_t* out) = 0;  // DigestLength() bytes

 protected:
  ~CisoHasher() = default;
};

err_t CreateCrc32Hasher(CisoHasher** out);
err_t CreateSha256Hasher(CisoHasher** out);
// By the trailer's hash method: kHashNone gives no hasher (and kOk), kHashCrc32 and kHashSha256
// their hashers, any other value kErrUnknownRevision; kErrOutOfMemory when memory runs out.
err_t CreateHasher(uint8_t method, CisoHasher** out);

}  // namespace ciso
