// isorun sfx INPUT -o OUT: makes a self-extracting runner. INPUT is a disc image, a container
// or a folder (made into an ISO 9660 + Joliet image by xorriso first); the image is packed
// unless INPUT already is a single-file container. A prebuilt runner stub is copied, its option
// resources are set in place, and the container follows it at the container's 32-byte grain.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "base/file.h"
#include "image/ciso_reader.h"
#include "image/format.h"
#include "image/iso_reader.h"
#include "image/source.h"
#include "pack/packer.h"
#include "runner/option_patch.h"
#include "runner/process.h"
#include "tools/commands.h"
#include "tools/host_files.h"
#include "tools/pack_options.h"
#include "tools/paths.h"
#include "tools/progress.h"
#include "tools/staged_output.h"

namespace tool {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMaxStubSize = 64u << 20;
constexpr uint32_t kCopyChunk = 1u << 20;

// ---- Files -------------------------------------------------------------------------------

// Part n of a split runner lies beside it as OUT.00n.
std::string PartName(const std::string& out, uint32_t n) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%03u", n);
  return out + suffix;
}

err_t ReadAt(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length) {
  if (err_t e = move_file_pointer(handle, static_cast<int64_t>(offset), 0, nullptr)) return e;
  for (auto* p = static_cast<uint8_t*>(buffer); length > 0;) {
    uint32_t count = 0;
    if (err_t e = read_file(handle, p, length, &count)) return e;
    if (count == 0) return kErrHandleEof;
    p += count, length -= count;
  }
  return kOk;
}

// The runner being written: the stub at its start, part 0 of the container from `base` on, and
// any further parts in files of their own, all under their temporary names until the end.
class RunnerOutput final : public ciso::PackOutput {
 public:
  RunnerOutput(std::string out, file_handle_t runner, uint64_t base, StagedOutput* staged)
      : out_(std::move(out)), runner_(runner), base_(base), staged_(staged) {}
  ~RunnerOutput() { CloseCurrent(); }

  err_t BeginPart(uint32_t number) override {
    CloseCurrent();
    current_ = number;
    parts_ = number + 1;
    if (number == 0) return kOk;
    failed_ = PartName(out_, number);
    if (err_t e = staged_->Create(failed_, &part_)) return e;
    failed_.clear();
    return kOk;
  }
  err_t Write(const void* data, uint32_t length) override {
    return write_file(Handle(), data, length, 0);
  }
  err_t RewriteHeader(uint32_t number, const uint8_t* header) override {
    if (number == current_) {
      err_t e =
          move_file_pointer(Handle(), static_cast<int64_t>(number == 0 ? base_ : 0), 0, nullptr);
      if (!e) e = write_file(Handle(), header, ciso::kPartHeaderSize, 0);
      if (!e) e = move_file_pointer(Handle(), 0, 2, nullptr);
      return e;
    }
    if (number == 0) {
      err_t e = move_file_pointer(runner_, static_cast<int64_t>(base_), 0, nullptr);
      return e ? e : write_file(runner_, header, ciso::kPartHeaderSize, 0);
    }
    file_handle_t h;
    std::string path = StagedOutput::TempPath(PartName(out_, number));
    if (err_t e = open_file(&h, Wide(path).c_str(), kOpenForReading | kOpenWriteData)) return e;
    err_t e = write_file(h, header, ciso::kPartHeaderSize, 0);
    err_t closed = close_handle(h);
    return e ? e : closed;
  }
  err_t Finish() { return CloseCurrent(); }
  uint32_t parts() const { return parts_; }
  // The part file that could not be created, if that is what failed.
  const std::string& failed_part() const { return failed_; }

 private:
  file_handle_t Handle() const { return current_ == 0 ? runner_ : part_; }
  err_t CloseCurrent() {
    err_t e = close_handle(part_);
    part_ = kNoHandle;
    return e;
  }

  std::string out_;
  file_handle_t runner_;
  uint64_t base_;
  StagedOutput* staged_;
  file_handle_t part_ = kNoHandle;
  uint32_t current_ = 0;
  uint32_t parts_ = 0;
  std::string failed_;
};

// The image as the packer reads it: through whichever reader opened INPUT.
class ReaderInput final : public ciso::PackInput {
 public:
  explicit ReaderInput(IsoReader* reader) : reader_(reader) {}
  err_t Read(uint64_t offset, void* buffer, uint32_t length) override {
    return reader_->Read(offset, buffer, length);
  }

 private:
  IsoReader* reader_;
};

void OnPackProgress(void* bar, uint64_t done, uint64_t) {
  static_cast<ProgressBar*>(bar)->Update(done);
}

// ---- The stub ----------------------------------------------------------------------------

// Where `--stub windows|linux` is looked for: beside this isorun program, in the installed
// layout (bin/isorun, lib/isorun/), then in the other build tree of a source checkout
// (build/<preset>/bin beside build/win32/bin and build/host/bin). The Linux stub is the static,
// stripped runner; a build without one (the sanitizer builds) has only the development runner,
// which stands in for it there.
std::vector<std::string> StubCandidates(const std::string& kind) {
  const bool windows = kind == "windows";
  const std::vector<std::string> names =
      windows ? std::vector<std::string>{"isorun-sfx.exe"}
              : std::vector<std::string>{"isorun-sfx-static", "isorun-sfx"};
  std::vector<std::string> found;
  std::string here = ProgramDirectory();
  if (here.empty()) return found;
  fs::path dir(here);
  fs::path installed = (dir / ".." / "lib" / "isorun").lexically_normal();
  fs::path other = (dir / ".." / ".." / (windows ? "win32" : "host") / "bin").lexically_normal();
  for (const fs::path& folder : {dir, installed, other})
    for (const std::string& name : names) found.push_back((folder / name).string());
  return found;
}

int FindStub(const Invocation& inv, std::string* path) {
  std::string stub = inv.Value("stub", "windows");
  if (stub != "windows" && stub != "linux") {
    *path = stub;
    return kExitOk;
  }
  std::vector<std::string> candidates = StubCandidates(stub);
  for (const std::string& candidate : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) {
      *path = candidate;
      return kExitOk;
    }
  }
  std::string tried;
  for (const std::string& candidate : candidates) tried += (tried.empty() ? "" : ", ") + candidate;
  return Fail(inv, kErrFileNotFound,
              "no " + stub + " runner stub found (looked for " + tried +
                  "); build it, or name one with --stub PATH");
}

// Reads the stub up to the end of its program image (an older runner's image is dropped) and
// checks that it is a runner whose options can be set.
int LoadStub(const Invocation& inv, const std::string& path, std::vector<uint8_t>* bytes) {
  ImageSource* files = SystemFiles();
  file_handle_t h;
  if (err_t e = files->Open(Wide(path).c_str(), kOpenForReading, &h))
    return Fail(inv, e, "cannot open stub " + path);
  HostRegion region{};
  err_t e = HostScan(files, h, nullptr, 0, &region);
  if (e == kOk && region.data_end != 0) e = kErrAccessDenied;
  if (e == kOk && region.data_start > kMaxStubSize) e = kErrFileTooLarge;
  if (e == kOk) {
    bytes->resize(region.data_start);
    e = ReadAt(h, 0, bytes->data(), static_cast<uint32_t>(bytes->size()));
  }
  files->Close(h);
  if (e == kErrAccessDenied)
    return Fail(inv, e, "stub " + path + " is signed: sign the runner isorun sfx makes instead");
  if (e == kErrBadFormat || e == kErrHandleEof)
    return Fail(inv, e, path + " is no runner stub (neither PE nor ELF)");
  if (e) return Fail(inv, e, "cannot read stub " + path);
  size_t offset;
  uint32_t length;
  if (locate_file_resource(bytes->data(), bytes->size(), u"OPTION", u"RUN_EXE", &offset, &length) !=
      kOk)
    return Fail(inv, kErrResourceNameNotFound,
                path + " is no runner stub (it has no option resources)");
  return kExitOk;
}

// A program to run must stay below the extraction directory.
bool IsInsideRelative(const std::string& run) {
  if (run.empty()) return true;
  if (run[0] == '/' || run[0] == '\\' || (run.size() > 1 && run[1] == ':')) return false;
  size_t start = 0;
  for (size_t i = 0; i <= run.size(); ++i) {
    if (i < run.size() && run[i] != '/' && run[i] != '\\') continue;
    if (run.compare(start, i - start, "..") == 0 && i - start == 2) return false;
    start = i + 1;
  }
  return true;
}

int SetOptions(const Invocation& inv, std::vector<uint8_t>* stub) {
  const std::string run = inv.Value("run");
  if (!IsInsideRelative(run))
    return UsageError(inv,
                      "--run must be a path inside the image, such as setup.exe or bin/setup.exe");
  // Every option is written, so a stub's earlier settings never linger; empty is the default.
  const std::pair<const char16_t*, std::u16string> options[] = {
      {u"RUN_EXE", Wide(run)},
      {u"VERIFY_MEDIA", inv.Has("verify") ? u"1" : u""},
      {u"USE_STDERR", inv.Has("stderr") ? u"1" : u""},
      {u"REQUIRE_ADMINISTRATOR", inv.Has("require-admin") ? u"1" : u""},
      {u"SHOW_PROGRESS", inv.Has("progress") ? u"1" : u""},
  };
  for (const auto& [name, value] : options) {
    err_t e = patch_option(stub->data(), stub->size(), name, value.c_str());
    if (e == kErrInsufficientBuffer)
      return UsageError(inv, "--run is too long for the stub's option block");
    if (e) return Fail(inv, e, "cannot set option " + Narrow(name) + " in the stub");
  }
  return kExitOk;
}

// ---- The image ---------------------------------------------------------------------------

// A folder of this run's own in the temporary folder (made here, so nobody else's file can be
// written through), holding the image made from the input folder; removed with it.
struct TempImage {
  fs::path folder;
  std::string path;

  bool Make() {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      fs::path candidate = fs::temp_directory_path(ec) / ("isorun-sfx-" + std::to_string(random()));
      if (ec) return false;
      if (!fs::create_directory(candidate, ec)) continue;
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
      folder = candidate;
      path = (candidate / "image.iso").string();
    }
    return !path.empty();
  }
  ~TempImage() {
    std::error_code ec;
    if (!folder.empty()) fs::remove_all(folder, ec);
  }
};

// Prints what a failed helper program wrote, which its own messages explain best.
void ShowLog(const std::string& log) {
  std::vector<uint8_t> bytes(4096);
  file_handle_t h;
  if (open_file(&h, Wide(log).c_str(), kOpenForReading) != kOk) return;
  uint32_t count = 0;
  if (read_file(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &count) == kOk)
    std::fwrite(bytes.data(), 1, count, stderr);
  close_handle(h);
}

// Seconds since 1970 of a file time (0 for anything earlier or unreadable).
int64_t Seconds(fs::file_time_type t) {
  auto since = std::chrono::file_clock::to_sys(t).time_since_epoch();
  return std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

int64_t ModifiedSeconds(const fs::path& path) {
  std::error_code ec;
  fs::file_time_type t = fs::last_write_time(path, ec);
  return ec ? 0 : Seconds(t);
}

// Calls visit(entry, is_link) for everything below `folder`, links not followed.
template <typename Visit>
void WalkFolder(const std::string& folder, Visit visit) {
  std::error_code ec;
  for (fs::recursive_directory_iterator
           it(folder, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec))
    visit(*it, it->is_symlink(ec));
}

// The image time of a folder: SOURCE_DATE_EPOCH when it is set, else the newest modification
// time in the folder (links not followed), so it does not depend on when or where the image is
// made. Seconds since 1970.
int64_t ImageTime(const std::string& folder) {
  uint64_t epoch;
  if (const char* text = std::getenv("SOURCE_DATE_EPOCH");
      text && ParseNumber(text, INT32_MAX, &epoch))
    return static_cast<int64_t>(epoch);
  int64_t newest = ModifiedSeconds(folder);
  WalkFolder(folder, [&](const fs::directory_entry& entry, bool link) {
    if (!link) newest = std::max(newest, ModifiedSeconds(entry.path()));
  });
  return newest;
}

// xorriso commands that date every file, directory and link of the image at most `seconds`: a
// link at the image time itself (its own time says nothing a user needs, and following it could
// leave the folder), anything newer at the image time, the rest keeps its own modification time.
// Paths are written in \xHH escapes, which xorriso reads for any byte a name may hold.
std::string ClampedDates(const std::string& folder, int64_t seconds) {
  const std::string command = "-alter_date m-c =" + std::to_string(seconds) + " \"";
  std::string commands = "-backslash_codes in_double_quotes\n";
  auto clamp = [&](const std::string& iso_path) {
    commands += command;
    for (unsigned char c : iso_path) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      commands += escape;
    }
    commands += "\" --\n";
  };
  if (ModifiedSeconds(folder) > seconds) clamp("/");
  WalkFolder(folder, [&](const fs::directory_entry& entry, bool link) {
    if (!link && ModifiedSeconds(entry.path()) <= seconds) return;
    std::u8string name = entry.path().lexically_relative(folder).generic_u8string();
    clamp("/" + std::string(name.begin(), name.end()));
  });
  return commands;
}

err_t WriteText(const std::string& path, const std::string& text) {
  file_handle_t h;
  if (err_t e = open_file(&h, Wide(path).c_str(), kOpenCreateOrTruncate)) return e;
  err_t e = write_file(h, text.data(), static_cast<uint32_t>(text.size()), 0);
  err_t closed = close_handle(h);
  return e ? e : closed;
}

// xorriso's options that fix the volume's dates at `seconds` (UTC), every owner at root, and every
// file's other times at its modification time.
std::vector<std::u16string> FixedImageOptions(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  char date[32] = "1970010100000000";
  if (const std::tm* utc = std::gmtime(&t)) std::strftime(date, sizeof date, "%Y%m%d%H%M%S00", utc);
  return {Wide(std::string("--modification-date=") + date), u"-uid", u"0", u"-gid", u"0"};
}

// Makes a folder into an ISO 9660 image with Joliet names (and Rock Ridge for Unix readers),
// the same bytes for the same folder: fixed dates and owners, and xorriso's own sorted order.
// Without the 300 KiB of zeros xorriso adds for disc drives by default: the image is never
// burnt, and every runner would decode them. xorriso's own chatter goes to a log that is shown
// only when it fails.
int MakeImage(const Invocation& inv, const std::string& folder, const std::string& iso) {
  const std::u16string wide_iso = Wide(iso), wide_folder = Wide(folder);
  const std::string log = iso + ".log", dates = iso + ".dates";
  const int64_t seconds = ImageTime(folder);
  if (err_t e = WriteText(dates, ClampedDates(folder, seconds)))
    return Fail(inv, e, "cannot write " + dates);
  const std::u16string wide_dates = Wide(dates);
  std::vector<std::u16string> fixed = FixedImageOptions(seconds);
  std::vector<const char16_t*> argv = {u"xorriso",    u"-as",    u"mkisofs", u"-quiet",
                                       u"-iso-level", u"3",      u"-J",      u"-joliet-long",
                                       u"-R",         u"-no-pad"};
  for (const std::u16string& option : fixed) argv.push_back(option.c_str());
  for (const char16_t* last : {u"-o", wide_iso.c_str(), wide_folder.c_str()}) argv.push_back(last);
  // The end of the mkisofs-style options; xorriso's own commands follow.
  for (const char16_t* command : {u"--", u"-volume_date", u"all_file_dates", u"set_to_mtime",
                                  u"-options_from_file", wide_dates.c_str()})
    argv.push_back(command);
  argv.push_back(nullptr);
  file_handle_t output;
  if (err_t e = open_file(&output, Wide(log).c_str(), kOpenCreateOrTruncate))
    return Fail(inv, e, "cannot create " + log);
  process_t* process;
  err_t e = create_process(&process);
  uint32_t code = 0;
  if (!e) {
    process->table->set_stdin(process, kNoHandle);
    process->table->set_stdout(process, output);
    process->table->set_stderr(process, output);
    e = process->table->launch(process, argv.data());
    if (!e) code = process->table->wait_exit(process);
    process->table->release(process);
  }
  close_handle(output);
  if (!e && code != 0) ShowLog(log);
  delete_path(Wide(log).c_str());
  delete_path(wide_dates.c_str());
  if (e == kErrFileNotFound || e == kErrPathNotFound)
    return Fail(inv, e,
                "making an image of a folder needs xorriso, which is not installed (apt-get "
                "install xorriso), "
                "or pass a disc image instead");
  if (e) return Fail(inv, e, "cannot start xorriso");
  if (code != 0) return Fail(inv, kErrGenFailure, "xorriso could not make an image of " + folder);
  return kExitOk;
}

// A container that is one file of its own can be appended as it is.
bool IsWholeContainer(IsoReader* reader, const char* kind) {
  if (std::string(kind) != "CisoReader") return false;
  ciso::ContainerFacts facts;
  ciso::DescribeContainer(reader, &facts);
  ciso::PartFacts part;
  return facts.part_count == 1 && ciso::DescribePart(reader, 0, &part) &&
         part.slice_start == ciso::kPartHeaderSize;
}

// What was written behind the stub.
struct Appended {
  uint64_t image_size = 0;
  uint64_t container_bytes = 0;
  uint32_t parts = 1;
};

int AppendCopy(const Invocation& inv, const std::string& container, file_handle_t runner,
               Appended* appended) {
  file_handle_t in;
  if (err_t e = open_file(&in, Wide(container).c_str(), kOpenForReading))
    return Fail(inv, e, "cannot open " + container);
  uint64_t size = 0;
  err_t e = get_file_size(in, &size);
  if (!e) e = move_file_pointer(in, 0, 0, nullptr);
  std::vector<uint8_t> chunk(kCopyChunk);
  for (uint64_t done = 0; !e && done < size;) {
    uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, size - done));
    e = ReadAt(in, done, chunk.data(), length);
    if (!e) e = write_file(runner, chunk.data(), length, 0);
    done += length;
  }
  close_handle(in);
  if (e) return Fail(inv, e, "cannot copy " + container);
  appended->container_bytes = size;
  return kExitOk;
}

int AppendPacked(const Invocation& inv, IsoReader* reader, const std::string& out,
                 file_handle_t runner, uint64_t base, StagedOutput* staged, Appended* appended) {
  ciso::PackOptions options;
  if (int rc = ReadPackOptions(inv, &options)) return rc;
  ReaderInput input(reader);
  RunnerOutput output(out, runner, base, staged);
  ciso::PackResult result;
  err_t e;
  {
    ProgressBar bar("packing", reader->ImageSize());
    options.progress = OnPackProgress;
    options.progress_context = &bar;
    e = ciso::PackContainer(&input, reader->ImageSize(), &output, options, &result);
  }
  err_t closed = output.Finish();
  if (!e) e = closed;
  appended->parts = output.parts();
  if (!staged->clash().empty())
    return Fail(inv, e, staged->clash() + " is the INPUT being read or the stub");
  if (e && !output.failed_part().empty())
    return Fail(inv, e, "cannot create " + output.failed_part());
  if (e) return Fail(inv, e, "packing the image failed");
  appended->container_bytes = result.container_bytes;
  return kExitOk;
}

// Writes OUT: the stub, zeros up to the grain, then the container.
int WriteRunner(const Invocation& inv, const std::vector<uint8_t>& stub, const std::string& input,
                IsoReader* reader, const char* kind, const std::string& out, StagedOutput* staged,
                Appended* appended) {
  file_handle_t runner;
  if (err_t e = staged->Create(out, &runner)) return Fail(inv, e, "cannot create " + out);
  const uint64_t base = ciso::AlignUp(stub.size());
  std::vector<uint8_t> head(stub);
  head.resize(base, 0);
  int rc = kExitOk;
  if (err_t e = write_file(runner, head.data(), static_cast<uint32_t>(head.size()), 0))
    rc = Fail(inv, e, "cannot write " + out);
  appended->image_size = reader->ImageSize();
  // A container is copied as it is unless packing options ask for another one.
  if (rc == kExitOk && IsWholeContainer(reader, kind) && !inv.Has("split") &&
      !HasPackOptions(inv)) {
    rc = AppendCopy(inv, input, runner, appended);
  } else if (rc == kExitOk) {
    rc = AppendPacked(inv, reader, out, runner, base, staged, appended);
  }
  err_t closed = close_handle(runner);
  if (rc == kExitOk && closed) rc = Fail(inv, closed, "cannot write " + out);
  return rc;
}

int RunSfx(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one INPUT");
  if (!inv.Has("output")) return UsageError(inv, "needs -o OUT");
  const std::string run = inv.Value("run").empty() ? "autorun.exe" : inv.Value("run");
  const std::string input = inv.args[0], out = inv.Value("output");
  std::string stub_path;
  if (int rc = FindStub(inv, &stub_path)) return rc;
  // The input's own part files are read too while the runner is written.
  std::vector<std::string> inputs = {input, stub_path};
  std::error_code ec;
  for (uint32_t n = 1; fs::exists(PartName(input, n), ec); ++n)
    inputs.push_back(PartName(input, n));
  StagedOutput staged(inputs);
  if (staged.IsInput(out))
    return Fail(inv, kErrInvalidParameter, "OUT " + out + " is the INPUT or the stub");
  std::vector<uint8_t> stub;
  if (int rc = LoadStub(inv, stub_path, &stub)) return rc;
  if (int rc = SetOptions(inv, &stub)) return rc;

  std::string image = input;
  TempImage temp_image;
  if (fs::is_directory(input, ec)) {
    if (!fs::exists(fs::path(input) / run, ec))
      std::fprintf(stderr, "isorun: sfx: warning: %s has no %s to run\n", input.c_str(),
                   run.c_str());
    if (!temp_image.Make())
      return Fail(inv, kErrAccessDenied, "cannot make a temporary folder for the image");
    image = temp_image.path;
    if (int rc = MakeImage(inv, input, image)) return rc;
  }
  IsoReader* reader = nullptr;
  const char* kind = "";
  err_t e = OpenImageFile(Wide(image).c_str(), &reader, &kind);
  int rc = kExitOk;
  Appended appended;
  if (e == kErrBadFormat || e == kErrHandleEof || e == kErrUnknownRevision) {
    rc = Fail(inv, e, input + " is no disc image or container, or is incomplete or corrupt");
  } else if (e) {
    rc = Fail(inv, e, "cannot open " + input);
  } else {
    rc = WriteRunner(inv, stub, image, reader, kind, out, &staged, &appended);
    reader->Destroy();
  }
  if (rc == kExitOk && !MarkExecutable(StagedOutput::TempPath(out)))
    rc = Fail(inv, kErrAccessDenied, "cannot mark " + out + " executable");
  if (rc == kExitOk) {
    if (err_t e = staged.Commit()) rc = Fail(inv, e, "cannot move the runner into place as " + out);
  }
  if (rc != kExitOk) return rc;
  std::printf("%s: runner %s + container %s (image %s), %u part%s; runs %s\n", out.c_str(),
              HumanSize(stub.size()).c_str(), HumanSize(appended.container_bytes).c_str(),
              HumanSize(appended.image_size).c_str(), appended.parts,
              appended.parts == 1 ? "" : "s", run.c_str());
  return kExitOk;
}

}  // namespace

Command SfxCommand() {
  return {"sfx", "make a self-extracting runner from a folder, disc image or container",
          "INPUT -o OUT",
          WithPackOptions(
              {{"output", 'o', "OUT",
                "the runner to write (with --split, parts beside it: OUT.001, ...)"},
               {"stub", 0, "KIND",
                "windows (default), linux, or the path of a runner stub. windows and linux "
                "are looked for beside this program, in ../lib/isorun from it (where they are "
                "installed), then in ../../win32/bin or ../../host/bin (the other preset of a "
                "build tree)"},
               {"run", 0, "PROGRAM", "the program to start from the image (default autorun.exe)"},
               {"verify", 0, nullptr, "check every block of the image before extracting it"},
               {"progress", 0, nullptr,
                "show the extraction's progress (and the --verify check's) once it lasts over a "
                "second: a window with Cancel (Skip for the check) on Windows, a line on a "
                "terminal's standard error on Linux"},
               {"stderr", 0, nullptr, "write the runner's diagnostic lines to standard error"},
               {"require-admin", 0, nullptr, "refuse to run without administrator rights"},
               {"split", 0, "SIZE",
                "cut the container into parts of at most SIZE: the first behind the runner, "
                "the others beside it as OUT.001, ..."}}),
          RunSfx};
}

}  // namespace tool
