// isorun verify FILE: checks every block of an image against its digests, the way the runner
// does before it extracts; exit 0 when sound, 1 with the error code when not.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/ciso_reader.h"
#include "tools/commands.h"
#include "tools/progress.h"
#include "tools/reader_open.h"

namespace tool {
namespace {

constexpr uint32_t kStep = 0x40000;  // the runner's verify step
constexpr uint32_t kSector = 2048;

// Where a failed step failed: the first sector from `at` on that does not read (reads of the
// blocks before it hit the reader's cache), taken back to the start of its container block,
// since a container checks whole blocks.
uint64_t FailedOffset(IsoReader* reader, const char* kind, uint64_t at, bool full) {
  uint8_t sector[kSector];
  uint64_t end = at + kStep;
  while (at < end && reader->Read(at, full ? sector : nullptr, kSector) == kOk) at += kSector;
  if (kind && std::strcmp(kind, "CisoReader") == 0) {
    ciso::ContainerFacts facts;
    ciso::DescribeContainer(reader, &facts);
    if (facts.block_size) at -= at % facts.block_size;
  }
  return at;
}

int RunVerify(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one FILE");
  const std::string& path = inv.args[0];
  IsoReader* reader;
  const char* kind;
  if (int rc = OpenReader(inv, path, &reader, &kind)) return rc;
  // --full also decompresses every block, as extraction would.
  std::vector<uint8_t> buffer(inv.Has("full") ? kStep : 0);
  uint8_t* destination = buffer.empty() ? nullptr : buffer.data();
  uint64_t size = reader->ImageSize();
  auto start = std::chrono::steady_clock::now();
  err_t e = kOk;
  uint64_t at = 0;
  {
    ProgressBar bar("verifying", size);
    for (; at < size && !e; at += kStep) {
      e = reader->Read(at, destination, kStep);
      bar.Update(at + kStep < size ? at + kStep : size);
    }
  }
  if (e) {
    char where[64];
    std::snprintf(where, sizeof where, " in the block at image offset %" PRIu64,
                  FailedOffset(reader, kind, at - kStep, destination != nullptr));
    reader->Destroy();
    return Fail(inv, e, path + " is corrupt" + where);
  }
  reader->Destroy();
  double seconds = SecondsSince(start);
  std::printf(
      "%s: OK, %s verified in %.2f s (%s/s)\n", path.c_str(), HumanSize(size).c_str(), seconds,
      HumanSize(static_cast<uint64_t>(static_cast<double>(size) / (seconds > 0 ? seconds : 1e-9)))
          .c_str());
  return kExitOk;
}

}  // namespace

Command VerifyCommand() {
  return {"verify",
          "check every block of an image against its digests",
          "FILE",
          {{"full", 0, nullptr, "also decompress every block, as extraction does"}},
          RunVerify};
}

}  // namespace tool
