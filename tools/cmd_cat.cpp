// isorun cat FILE PATH: writes one file of the image to standard output, read through the
// media in the runner's 256 KiB steps.
#include <cstdio>
#include <vector>

#include "isofs/media.h"
#include "tools/commands.h"
#include "tools/media_paths.h"

namespace tool {
namespace {

constexpr uint32_t kStep = 0x40000;

int RunCat(const Invocation& inv) {
  if (inv.args.size() != 2) return UsageError(inv, "expects FILE and PATH");
  SeVolume* volume;
  if (int rc = OpenMediaFile(inv, inv.args[0], &volume)) return rc;
  MediaPath path(inv.args[1]);
  SeLookupResult r;
  int result = kExitOk;
  if (err_t e = path.Lookup(volume, 1, &r)) {
    result = Fail(inv, e, path.Text() + ": no such file");
  } else if (r.info.type != kSeTypeFile) {
    result = Fail(inv, kErrDirectory, path.Text() + " is a directory");
  } else {
    SetStdoutBinary();
    std::vector<uint8_t> buffer(kStep);
    for (uint64_t at = 0; at < r.info.size;) {
      uint32_t want = r.info.size - at < kStep ? uint32_t(r.info.size - at) : kStep;
      uint32_t got = 0;
      err_t e = volume->Read(r.node_id, at, buffer.data(), want, &got);
      if (e == kOk && got == 0) e = kErrHandleEof;
      if (e) {
        result = Fail(inv, e, "cannot read " + path.Text());
        break;
      }
      if (std::fwrite(buffer.data(), 1, got, stdout) != got) {
        result = Fail(inv, kErrWriteFault, "cannot write to standard output");
        break;
      }
      at += got;
    }
    std::fflush(stdout);
  }
  ReleaseMedia(volume);
  return result;
}

}  // namespace

Command CatCommand() {
  return {"cat", "write one file inside an image to standard output", "FILE PATH", {}, RunCat};
}

}  // namespace tool
