// isorun cat FILE PATH...: writes files of the image to standard output, one after another,
// read through the media in the runner's 256 KiB steps.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "isofs/media.h"
#include "tools/commands.h"
#include "tools/media_paths.h"

namespace tool {
namespace {

constexpr uint32_t kStep = 0x40000;
constexpr size_t kOutputBytes = 1 << 20;

// File data is read straight into one large output buffer, so many small files go out in few
// writes and without a further copy.
struct Output {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kOutputBytes);
  size_t fill = 0;
  bool Flush() {
    bool ok = std::fwrite(bytes.data(), 1, fill, stdout) == fill;
    fill = 0;
    return ok;
  }
};

// Writes one file; a failure is reported and ends the command.
int CatOne(const Invocation& inv, SeVolume* volume, const MediaPath& path, Output& out) {
  SeLookupResult r;
  if (err_t e = path.Lookup(volume, 1, &r)) return Fail(inv, e, MediaFailure(e, path.Text()));
  int result = kExitOk;
  if (r.info.type != kSeTypeFile)
    result = Fail(inv, kErrDirectory, path.Text() + " is a directory");
  for (uint64_t at = 0; result == kExitOk && at < r.info.size;) {
    if (out.fill == out.bytes.size() && !out.Flush()) {
      result = Fail(inv, kErrWriteFault, "cannot write to standard output");
      break;
    }
    uint64_t room = std::min<uint64_t>(out.bytes.size() - out.fill, kStep);
    uint32_t want = uint32_t(std::min<uint64_t>(r.info.size - at, room));
    uint32_t got = 0;
    err_t e = volume->Read(r.node_id, at, out.bytes.data() + out.fill, want, &got);
    if (e == kOk && got == 0) e = kErrHandleEof;
    if (e) result = Fail(inv, e, MediaFailure(e, path.Text()));
    out.fill += got;
    at += got;
  }
  volume->Forget(r.node_id, ~uint64_t{0});
  return result;
}

int RunCat(const Invocation& inv) {
  if (inv.args.size() < 2) return UsageError(inv, "expects FILE and at least one PATH");
  SeVolume* volume;
  if (int rc = OpenMediaFile(inv, inv.args[0], &volume)) return rc;
  SetStdoutBinary();
  Output out;
  int result = kExitOk;
  for (size_t i = 1; i < inv.args.size() && result == kExitOk; ++i)
    result = CatOne(inv, volume, MediaPath(inv.args[i]), out);
  if (!out.Flush() && result == kExitOk)
    result = Fail(inv, kErrWriteFault, "cannot write to standard output");
  std::fflush(stdout);
  ReleaseMedia(volume);
  return result;
}

}  // namespace

Command CatCommand() {
  return {"cat",
          "write files inside an image to standard output, one after another",
          "FILE PATH...",
          {},
          RunCat};
}

}  // namespace tool
