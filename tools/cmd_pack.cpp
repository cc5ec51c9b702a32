// isorun pack IMAGE -o OUT: compresses a disc image into a container (OUT, and OUT.001,
// OUT.002, ... with --split).
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/file.h"
#include "pack/packer.h"
#include "tools/commands.h"
#include "tools/pack_options.h"
#include "tools/paths.h"
#include "tools/progress.h"
#include "tools/staged_output.h"

namespace tool {
namespace {

class FileInput final : public ciso::PackInput {
 public:
  explicit FileInput(file_handle_t handle) : handle_(handle) {}
  err_t Read(uint64_t offset, void* buffer, uint32_t length) override {
    if (offset != position_) {
      if (err_t e = move_file_pointer(handle_, static_cast<int64_t>(offset), 0, nullptr)) return e;
      position_ = offset;
    }
    auto* p = static_cast<uint8_t*>(buffer);
    while (length > 0) {
      uint32_t count = 0;
      if (err_t e = read_file(handle_, p, length, &count)) return e;
      if (count == 0) return kErrHandleEof;  // the image shrank while we read it
      p += count, length -= count, position_ += count;
    }
    return kOk;
  }

 private:
  file_handle_t handle_;
  uint64_t position_ = 0;
};

// Part n of OUT is OUT itself for n = 0, else OUT.00n.
std::string PartPath(const std::string& out, uint32_t n) {
  if (n == 0) return out;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%03u", n);
  return out + suffix;
}

// The parts, written under temporary names and moved into place when the pack is complete.
class FileParts final : public ciso::PackOutput {
 public:
  FileParts(std::string out, StagedOutput* staged) : out_(std::move(out)), staged_(staged) {}
  ~FileParts() { close_handle(handle_); }

  err_t BeginPart(uint32_t number) override {
    close_handle(handle_);
    handle_ = kNoHandle;
    current_ = number;
    failed_path_ = PartPath(out_, number);
    if (err_t e = staged_->Create(failed_path_, &handle_)) return e;
    failed_path_.clear();
    return kOk;
  }
  err_t Write(const void* data, uint32_t length) override {
    return write_file(handle_, data, length, 0);
  }
  err_t RewriteHeader(uint32_t number, const uint8_t* header) override {
    if (number == current_) {
      err_t e = move_file_pointer(handle_, 0, 0, nullptr);
      if (!e) e = write_file(handle_, header, ciso::kPartHeaderSize, 0);
      if (!e) e = move_file_pointer(handle_, 0, 2, nullptr);
      return e;
    }
    file_handle_t h;
    std::string path = StagedOutput::TempPath(PartPath(out_, number));
    if (err_t e = open_file(&h, Wide(path).c_str(), kOpenForReading | kOpenWriteData)) return e;
    err_t e = write_file(h, header, ciso::kPartHeaderSize, 0);
    err_t closed = close_handle(h);
    return e ? e : closed;
  }
  err_t Close() {
    err_t e = close_handle(handle_);
    handle_ = kNoHandle;
    return e;
  }
  // The part that could not be created, if that is what failed.
  const std::string& failed_path() const { return failed_path_; }

 private:
  std::string out_;
  StagedOutput* staged_;
  file_handle_t handle_ = kNoHandle;
  uint32_t current_ = 0;
  std::string failed_path_;
};

err_t ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  file_handle_t h;
  if (err_t e = open_file(&h, Wide(path).c_str(), kOpenForReading)) return e;
  uint64_t size = 0;
  err_t e = get_file_size(h, &size);
  if (!e && size > 0x10000000) e = kErrInvalidParameter;
  if (!e) e = move_file_pointer(h, 0, 0, nullptr);
  if (!e) {
    FileInput input(h);
    bytes->resize(size);
    e = input.Read(0, bytes->data(), static_cast<uint32_t>(size));
  }
  close_handle(h);
  return e;
}

struct Progress {
  ProgressBar* bar;
};

void OnProgress(void* context, uint64_t done, uint64_t) {
  static_cast<Progress*>(context)->bar->Update(done);
}

// Reads the command line into pack options; returns kExitOk or a usage error.
int ReadOptions(const Invocation& inv, ciso::PackOptions* o,
                std::vector<std::vector<uint8_t>>* payloads,
                std::vector<ciso::PackPatch>* patches) {
  if (int rc = ReadPackOptions(inv, o)) return rc;
  for (auto& [key, value] : inv.values) {
    if (key != "patch") continue;
    size_t colon = value.find(':');
    uint64_t offset;
    if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), UINT64_MAX, &offset))
      return UsageError(inv, "--patch takes OFFSET:FILE");
    payloads->emplace_back();
    if (err_t e = ReadWholeFile(value.substr(colon + 1), &payloads->back()))
      return Fail(inv, e, "cannot read patch " + value.substr(colon + 1));
    if (payloads->back().empty())
      return UsageError(inv, "patch file " + value.substr(colon + 1) + " is empty");
    patches->push_back(
        {offset, payloads->back().data(), static_cast<uint32_t>(payloads->back().size())});
  }
  o->patches = patches->data();
  o->patch_count = static_cast<uint32_t>(patches->size());
  return kExitOk;
}

bool IsPartFile(const std::u16string& path) {
  file_handle_t h;
  if (open_file(&h, path.c_str(), kOpenForReading) != kOk) return false;
  uint8_t magic[4] = {};
  uint32_t count = 0;
  bool part = read_file(h, magic, 4, &count) == kOk && count == 4 &&
              std::memcmp(magic, ciso::kPartMagic, 4) == 0;
  close_handle(h);
  return part;
}

// Part files of an earlier, longer pack would be taken for parts of this one; files of that
// name that are no part files, and the image that was packed, are left alone.
void RemoveStaleParts(const std::string& out, uint32_t from, const StagedOutput& staged) {
  for (uint32_t n = from; n < 100000; ++n) {
    std::u16string path = Wide(PartPath(out, n));
    if (staged.IsInput(PartPath(out, n)) || !IsPartFile(path) || delete_path(path.c_str()) != kOk)
      return;
  }
}

int RunPack(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one IMAGE");
  if (!inv.Has("output")) return UsageError(inv, "needs -o OUT");
  ciso::PackOptions options;
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<ciso::PackPatch> patches;
  payloads.reserve(inv.values.size());
  if (int rc = ReadOptions(inv, &options, &payloads, &patches)) return rc;
  const std::string& image = inv.args[0];
  const std::string out = inv.Value("output");
  StagedOutput staged({image});
  if (staged.IsInput(out))
    return Fail(inv, kErrInvalidParameter, "OUT " + out + " is the image being packed");

  file_handle_t in;
  if (err_t e = open_file(&in, Wide(image).c_str(), kOpenForReading))
    return Fail(inv, e, "cannot open " + image);
  uint64_t size = 0;
  err_t e = get_file_size(in, &size);
  if (!e) e = move_file_pointer(in, 0, 0, nullptr);
  if (e) {
    close_handle(in);
    return Fail(inv, e, "cannot read " + image);
  }
  if (size == 0) {
    close_handle(in);
    return Fail(inv, kErrHandleEof, image + " is empty");
  }
  auto start = std::chrono::steady_clock::now();
  FileInput input(in);
  FileParts parts(out, &staged);
  ciso::PackResult result;
  {
    ProgressBar bar("packing", size);
    Progress progress = {&bar};
    options.progress = OnProgress;
    options.progress_context = &progress;
    e = ciso::PackContainer(&input, size, &parts, options, &result);
  }
  close_handle(in);
  err_t closed = parts.Close();
  if (!e) e = closed;
  if (!staged.clash().empty()) return Fail(inv, e, staged.clash() + " is the image being packed");
  if (e) {
    if (!parts.failed_path().empty()) return Fail(inv, e, "cannot create " + parts.failed_path());
    return Fail(inv, e, "packing " + image + " failed");
  }
  if (err_t moved = staged.Commit())
    return Fail(inv, moved, "cannot move the container into place as " + out);
  RemoveStaleParts(out, result.parts, staged);
  double seconds = SecondsSince(start);
  std::printf(
      "%s: %s -> %s (%.1f%%), %" PRIu64 " blocks of %s, %u part%s, %.2f s, %s/s\n", out.c_str(),
      HumanSize(size).c_str(), HumanSize(result.container_bytes).c_str(),
      100.0 * static_cast<double>(result.container_bytes) / static_cast<double>(size),
      result.block_count, HumanSize(result.block_size).c_str(), result.parts,
      result.parts == 1 ? "" : "s", seconds,
      HumanSize(static_cast<uint64_t>(static_cast<double>(size) / (seconds > 0 ? seconds : 1e-9)))
          .c_str());
  return kExitOk;
}

}  // namespace

Command PackCommand() {
  return {"pack", "compress a disc image into a container", "IMAGE -o OUT",
          WithPackOptions(
              {{"output", 'o', "OUT", "the container to write (parts beside it: OUT.001, ...)"},
               {"split", 0, "SIZE", "cut the container into part files of at most SIZE"},
               {"patch", 0, "OFFSET:FILE", "lay FILE's bytes over the image at OFFSET when read"}}),
          RunPack};
}

}  // namespace tool
