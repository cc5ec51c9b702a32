#include "pack/packer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/endian.h"
#include "pack/compressor.h"
#include "image/crc32.h"
#include "image/hasher.h"
#include "image/sha256.h"

namespace ciso {
namespace {

// One block on its way through a worker.
struct Job {
  enum State { kEmpty, kReady, kDone };
  State state = kEmpty;
  uint64_t block = 0;
  std::vector<uint8_t> input;   // the block, zero-padded to the block size
  std::vector<uint8_t> output;  // its compressed form
  const uint8_t* stored = nullptr;
  uint32_t stored_size = 0;
  uint8_t digest[kSha256DigestSize] = {};      // the block digest, over the stored bytes
  uint8_t raw_digest[kSha256DigestSize] = {};  // SHA-256 of the block itself, for the ids
  bool quick = false;                          // compressed with the quick search
  err_t error = kOk;
};

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// The probe that spares already-compressed data the full compressor: slices spread over the
// block, deflated together at level 1, must shrink by 1/kProbeMinSaving or the block is stored
// raw. LZMA at any preset gains at most a few percent over deflate on such data, so compressible
// blocks keep their size, and a random block costs a 64 KiB deflate instead of a full encode.
// A block to compress whose slices, each deflated alone, are at least half stubborn (do not
// shrink by that much) is half compressed data already: it gets the quick search, which costs
// such a block little size and a third of the time.
constexpr uint32_t kProbeSlices = 16;
constexpr uint32_t kProbeSlice = 4096;
constexpr uint32_t kProbeMinSaving = 50;

enum class Outlook { kStore, kQuick, kFull };

// What each worker owns: a compressor and a hasher, reused block after block.
class Worker {
 public:
  Worker(const PackOptions& options) : options_(options) {}
  ~Worker() {
    if (compressor_) compressor_->Destroy();
    if (quick_) quick_->Destroy();
    if (probe_) probe_->Destroy();
    if (hasher_) hasher_->Destroy();
  }
  err_t Init() {
    if (err_t e = CreateHasher(options_.hash, &hasher_)) return e;
    if (options_.compression == kStored) return kOk;
    if (err_t e = CreateBlockCompressor(kDeflate, 1, kProbeSlices * kProbeSlice, &probe_)) return e;
    if (err_t e = CreateBlockCompressor(options_.compression, options_.level, options_.block_size,
                                        &quick_, Effort::kQuick))
      return e;
    return CreateBlockCompressor(options_.compression, options_.level, options_.block_size,
                                 &compressor_);
  }

  void Process(Job* job) {
    const uint32_t size = options_.block_size;
    Sha256State raw;
    Sha256Init(&raw);
    Sha256Update(&raw, job->input.data(), size);
    Sha256Finish(&raw, job->raw_digest);
    job->stored = job->input.data();
    job->stored_size = size;
    job->quick = false;
    job->error = kOk;
    if (compressor_) Compress(job);
    if (job->error) return;
    std::memset(job->digest, 0, sizeof job->digest);
    if (options_.hash == kHashSha256 && job->stored == job->input.data()) {
      std::memcpy(job->digest, job->raw_digest, sizeof job->digest);  // the same bytes
    } else if (hasher_) {
      hasher_->Reset();
      hasher_->Update(job->stored, job->stored_size);
      hasher_->Finish(job->digest);
    }
  }

 private:
  // All-zero blocks take no room; blocks that do not shrink stay raw.
  void Compress(Job* job) {
    const uint32_t size = options_.block_size;
    if (AllZero(job->input.data(), size)) {
      job->stored_size = 0;
      return;
    }
    Outlook outlook = Probe(job->input.data());
    if (outlook == Outlook::kStore) return;
    job->quick = outlook == Outlook::kQuick;
    BlockCompressor* compressor = job->quick ? quick_ : compressor_;
    job->output.resize(size);
    uint32_t written = 0;
    err_t e =
        compressor->Compress(job->input.data(), size, job->output.data(), size - kGrain, &written);
    if (e == kErrHandleDiskFull) return;
    if (e) {
      job->error = e;
      return;
    }
    uint32_t padded = static_cast<uint32_t>(AlignUp(written));
    std::memset(job->output.data() + written, 0, padded - written);
    job->stored = job->output.data();
    job->stored_size = padded;
  }

  // What the probe's slices say of the block (a block no larger than the probe is its own).
  Outlook Probe(const uint8_t* block) {
    const uint32_t size = options_.block_size;
    if (size <= kProbeSlices * kProbeSlice)
      return Shrinks(block, size) ? Outlook::kFull : Outlook::kStore;
    sample_.resize(kProbeSlices * kProbeSlice);
    // One slice at a scattered place in each 1/kProbeSlices of the block, so that data
    // repeating at a power-of-two period is not seen at one phase only.
    const uint32_t stride = size / kProbeSlices, room = stride - kProbeSlice + 1;
    for (uint32_t i = 0; i < kProbeSlices; ++i) {
      uint32_t scatter = ((i + 1) * 0x9E3779B1u >> 8) % room;
      std::memcpy(&sample_[i * kProbeSlice], block + i * stride + scatter, kProbeSlice);
    }
    if (!Shrinks(sample_.data(), static_cast<uint32_t>(sample_.size()))) return Outlook::kStore;
    uint32_t stubborn = 0;
    for (uint32_t i = 0; i < kProbeSlices; ++i)
      stubborn += !Shrinks(&sample_[i * kProbeSlice], kProbeSlice);
    return 2 * stubborn >= kProbeSlices ? Outlook::kQuick : Outlook::kFull;
  }

  bool Shrinks(const uint8_t* bytes, uint32_t length) {
    probe_out_.resize(length);
    uint32_t written = 0;
    return probe_->Compress(bytes, length, probe_out_.data(), length - length / kProbeMinSaving,
                            &written) == kOk;
  }

  const PackOptions& options_;
  BlockCompressor* probe_ = nullptr;
  std::vector<uint8_t> sample_, probe_out_;
  BlockCompressor* compressor_ = nullptr;
  BlockCompressor* quick_ = nullptr;
  CisoHasher* hasher_ = nullptr;
};

// Blocks in, stored blocks out in block order, on `threads` workers.
class Pipeline {
 public:
  Pipeline(const PackOptions& options, uint64_t block_count)
      : options_(options), block_count_(block_count), jobs_(2 * options.threads) {}

  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
  }

  err_t Start() {
    for (uint32_t i = 0; i < options_.threads; ++i) {
      workers_.emplace_back(new Worker(options_));
      if (err_t e = workers_.back()->Init()) return e;
    }
    for (auto& job : jobs_) job.input.resize(options_.block_size);
    for (uint32_t i = 0; i < options_.threads; ++i)
      threads_.emplace_back(&Pipeline::Run, this, workers_[i].get());
    return kOk;
  }

  // The slot for the next block to submit, or null while every slot is busy.
  Job* Free(uint64_t block) {
    if (block - written_ >= jobs_.size()) return nullptr;
    return &jobs_[block % jobs_.size()];
  }

  void Submit(Job* job, uint64_t block) {
    std::lock_guard<std::mutex> lock(mutex_);
    job->block = block;
    job->state = Job::kReady;
    ++submitted_;
    ready_.notify_one();
  }

  // Waits for the oldest block not yet written.
  Job* Next() {
    Job* job = &jobs_[written_ % jobs_.size()];
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return job->state == Job::kDone; });
    return job;
  }

  void Release(Job* job) {
    std::lock_guard<std::mutex> lock(mutex_);
    job->state = Job::kEmpty;
    ++written_;
  }

 private:
  void Run(Worker* worker) {
    for (;;) {
      Job* job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return stopping_ || taken_ < submitted_; });
        if (stopping_) return;
        job = &jobs_[taken_++ % jobs_.size()];
      }
      worker->Process(job);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        job->state = Job::kDone;
      }
      done_.notify_all();
    }
  }

  const PackOptions& options_;
  uint64_t block_count_;
  std::vector<Job> jobs_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_, done_;
  uint64_t submitted_ = 0, taken_ = 0, written_ = 0;
  bool stopping_ = false;
};

// The data stream cut into parts: each part file at most `split` bytes, header included, and
// the trailer (with its locator) whole in the last one.
class PartWriter {
 public:
  PartWriter(PackOutput* out, uint64_t split) : out_(out), split_(AlignDown(split)) {}

  err_t Stream(const void* data, uint64_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
      if (!started_ || (split_ && part_bytes_ == split_)) {
        if (err_t e = StartPart()) return e;
      }
      uint64_t room = split_ ? split_ - part_bytes_ : length;
      uint32_t n = static_cast<uint32_t>(room < length ? room : length);
      if (n > 0x40000000u) n = 0x40000000u;
      if (err_t e = Put(p, n)) return e;
      stream_ += n, p += n, length -= n;
    }
    return kOk;
  }

  err_t Tail(const void* data, uint32_t length) {
    if (!started_ || (split_ && part_bytes_ + length > split_)) {
      if (err_t e = StartPart()) return e;
    }
    return Put(data, length);
  }

  // Every part header in its final form.
  err_t SealHeaders(const uint8_t* image_id, const uint8_t* part_set_id) {
    for (uint32_t n = 0; n < logical_.size(); ++n) {
      uint8_t header[kPartHeaderSize];
      MakeHeader(header, n, image_id, part_set_id);
      if (err_t e = out_->RewriteHeader(n, header)) return e;
    }
    return kOk;
  }

  uint32_t parts() const { return static_cast<uint32_t>(logical_.size()); }
  uint64_t total() const { return total_; }

 private:
  err_t StartPart() {
    uint32_t n = static_cast<uint32_t>(logical_.size());
    logical_.push_back(stream_);
    started_ = true;
    part_bytes_ = 0;
    if (err_t e = out_->BeginPart(n)) return e;
    uint8_t header[kPartHeaderSize];
    MakeHeader(header, n, nullptr, nullptr);
    return Put(header, kPartHeaderSize);
  }

  void MakeHeader(uint8_t* h, uint32_t n, const uint8_t* image_id,
                  const uint8_t* part_set_id) const {
    std::memset(h, 0, kPartHeaderSize);
    std::memcpy(h + kMagic, kPartMagic, 4);
    std::memcpy(h + kFormatA, kFormatBytes, sizeof kFormatBytes);
    if (image_id) std::memcpy(h + kImageId, image_id, kIdSize);
    if (part_set_id) std::memcpy(h + kPartSetId, part_set_id, kIdSize);
    StoreLe64(h + kLogicalOffset, logical_[n]);
    StoreLe32(h + kPartNumber, n);
    StoreLe32(h + kCrc, Crc32(0, h + kCrcFrom, kPartHeaderSize - kCrcFrom));
  }

  err_t Put(const void* data, uint32_t length) {
    part_bytes_ += length, total_ += length;
    return out_->Write(data, length);
  }

  PackOutput* out_;
  uint64_t split_;
  bool started_ = false;
  uint64_t part_bytes_ = 0;
  uint64_t stream_ = 0;
  uint64_t total_ = 0;
  std::vector<uint64_t> logical_;
};

err_t CheckOptions(const PackOptions& o, uint64_t image_size) {
  bool ok = image_size > 0 && IsAligned(o.block_size) && o.block_size >= kMinBlockSize &&
            o.block_size <= kMaxBlockSize &&
            (o.hash == kHashNone || o.hash == kHashCrc32 || o.hash == kHashSha256) &&
            (o.split_size == 0 || o.split_size >= kMinSplitSize) && o.threads >= 1 &&
            o.threads <= 256 && (image_size - 1) / o.block_size + 1 < 0xFFFFFFFFull;
  if (o.compression == kStored) return ok ? kOk : kErrInvalidParameter;
  bool level_ok = o.compression == kLzma
                      ? o.level <= 9
                      : o.compression == kDeflate && o.level >= 1 && o.level <= 9;
  return ok && level_ok ? kOk : kErrInvalidParameter;
}

// No larger than the image at the grain: a smaller image in one block of the full size would
// have every reader decode (and hold in memory) the zeros that pad it to the block size.
uint32_t FittedBlockSize(uint32_t block_size, uint64_t image_size) {
  uint64_t fitted = std::max<uint64_t>(AlignUp(image_size), kMinBlockSize);
  return fitted < block_size ? static_cast<uint32_t>(fitted) : block_size;
}

std::vector<uint8_t> PatchTable(const PackOptions& o) {
  std::vector<uint8_t> table;
  for (uint32_t i = 0; i < o.patch_count; ++i) {
    const PackPatch& p = o.patches[i];
    size_t at = table.size();
    table.resize(AlignUp(at + kPatchHeaderSize + p.length), 0);
    std::memcpy(&table[at + kPatchTagAt], kPatchTag, 4);
    StoreLe32(&table[at + kPatchLength], p.length);
    StoreLe64(&table[at + kPatchOffset], p.offset);
    std::memcpy(&table[at + kPatchHeaderSize], p.bytes, p.length);
  }
  return table;
}

void Sha256Prefix(const std::vector<const void*>& pieces, const std::vector<size_t>& sizes,
                  uint8_t* out16) {
  Sha256State s;
  Sha256Init(&s);
  for (size_t i = 0; i < pieces.size(); ++i) Sha256Update(&s, pieces[i], sizes[i]);
  uint8_t digest[kSha256DigestSize];
  Sha256Finish(&s, digest);
  std::memcpy(out16, digest, kIdSize);
}

}  // namespace

err_t PackContainer(PackInput* input, uint64_t image_size, PackOutput* output,
                    const PackOptions& asked, PackResult* result) {
  *result = {};
  if (err_t e = CheckOptions(asked, image_size)) return e;
  PackOptions options = asked;
  options.block_size = FittedBlockSize(asked.block_size, image_size);
  result->block_size = options.block_size;
  for (uint32_t i = 0; i < options.patch_count; ++i)
    if (options.patches[i].length == 0 ||
        options.patches[i].offset + options.patches[i].length < options.patches[i].offset)
      return kErrInvalidParameter;

  const uint32_t bs = options.block_size;
  const uint64_t count = (image_size - 1) / bs + 1;
  CisoHasher* table_hasher = nullptr;
  if (err_t e = CreateHasher(options.hash, &table_hasher)) return e;
  const uint32_t digest_length = table_hasher ? table_hasher->DigestLength() : 0;
  const bool compressed = options.compression != kStored;
  std::vector<uint8_t> hashes(digest_length ? AlignUp(count * digest_length) : 0);
  std::vector<uint8_t> sizes(compressed ? AlignUp(count * 4) : 0);
  std::vector<uint8_t> raw_digests(count * kSha256DigestSize);

  PartWriter parts(output, options.split_size);
  err_t e = kOk;
  {
    Pipeline pipeline(options, count);
    e = pipeline.Start();
    uint64_t next_read = 0, next_write = 0;
    while (!e && next_write < count) {
      if (Job* job = next_read < count ? pipeline.Free(next_read) : nullptr) {
        uint64_t at = next_read * bs;
        uint32_t length = image_size - at < bs ? static_cast<uint32_t>(image_size - at) : bs;
        std::memset(job->input.data() + length, 0, bs - length);
        if ((e = input->Read(at, job->input.data(), length))) break;
        pipeline.Submit(job, next_read++);
        continue;
      }
      Job* job = pipeline.Next();
      e = job->error;
      if (!e) e = parts.Stream(job->stored, job->stored_size);
      if (!e) {
        if (digest_length)
          std::memcpy(&hashes[next_write * digest_length], job->digest, digest_length);
        if (compressed) StoreLe32(&sizes[next_write * 4], job->stored_size);
        std::memcpy(&raw_digests[next_write * kSha256DigestSize], job->raw_digest,
                    kSha256DigestSize);
        result->stored_bytes += job->stored_size;
        result->zero_blocks += job->stored_size == 0;
        result->raw_blocks += compressed && job->stored_size == bs;
        result->quick_blocks += job->quick && job->stored_size < bs;
      }
      pipeline.Release(job);
      ++next_write;
      if (!e && options.progress)
        options.progress(options.progress_context, std::min(next_write * bs, image_size),
                         image_size);
    }
  }
  std::vector<uint8_t> patches = PatchTable(options);
  uint8_t trailer[kTrailerSize] = {};
  if (!e) {
    std::memcpy(trailer + kMagic, kTrailerMagic, 4);
    std::memcpy(trailer + kFormatA, kFormatBytes, sizeof kFormatBytes);
    trailer[kHashMethod] = options.hash;
    StoreLe64(trailer + kBlockCount, count);
    StoreLe32(trailer + kBlockSize, bs);
    StoreLe32(trailer + kLastBlockSize, static_cast<uint32_t>(image_size - (count - 1) * bs));
    StoreLe32(trailer + kPatchTableSize, static_cast<uint32_t>(patches.size()));
    trailer[kCompressionMethod] = options.compression;
    if (options.compression == kLzma)
      trailer[kLzmaProperties] = LzmaPropertiesForLevel(options.level);
    // The ids follow from the content and the options.
    Sha256Prefix({raw_digests.data(), trailer + kHashMethod, patches.data()},
                 {raw_digests.size(), kTableDigest - kHashMethod, patches.size()},
                 result->image_id);
    std::memcpy(trailer + kImageId, result->image_id, kIdSize);
    uint8_t split[8];
    StoreLe64(split, options.split_size);
    uint8_t part_set_id[kIdSize];
    Sha256Prefix({result->image_id, split}, {kIdSize, sizeof split}, part_set_id);

    if (table_hasher) {
      table_hasher->Reset();
      table_hasher->Update(hashes.data(), static_cast<uint32_t>(hashes.size()));
      table_hasher->Update(sizes.data(), static_cast<uint32_t>(sizes.size()));
      table_hasher->Update(patches.data(), static_cast<uint32_t>(patches.size()));
      table_hasher->Update(trailer + kDigestedTrailerFrom, kDigestedTrailerSize);
      table_hasher->Finish(trailer + kTableDigest);
    }
    StoreLe32(trailer + kCrc, Crc32(0, trailer + kCrcFrom, kTrailerSize - kCrcFrom));

    uint8_t tail[kTrailerSize + kLocatorSize] = {};
    std::memcpy(tail, trailer, kTrailerSize);
    uint32_t tail_size = kTrailerSize;
    if (options.locator) {
      uint8_t* locator = tail + kTrailerSize;
      std::memcpy(locator + kMagic, kChunkMagic, 4);
      StoreLe32(locator + kChunkLength, kLocatorSize);
      locator[kChunkType] = kChunkLocator;
      std::memcpy(locator + kLocatorImageId, result->image_id, kIdSize);
      StoreLe64(locator + kLocatorDistance, kLocatorSize);
      StoreLe32(locator + kCrc, Crc32(0, locator + kCrcFrom, kLocatorSize - kCrcFrom));
      tail_size += kLocatorSize;
    }
    if (!(e = parts.Stream(hashes.data(), hashes.size())) &&
        !(e = parts.Stream(sizes.data(), sizes.size())) &&
        !(e = parts.Stream(patches.data(), patches.size())) && !(e = parts.Tail(tail, tail_size)))
      e = parts.SealHeaders(result->image_id, part_set_id);
  }
  if (table_hasher) table_hasher->Destroy();
  if (e) return e;
  result->image_size = image_size;
  result->block_count = count;
  result->container_bytes = parts.total();
  result->parts = parts.parts();
  return kOk;
}

}  // namespace ciso
