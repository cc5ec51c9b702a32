// isorun extract FILE [-C DIR]: copies the main file system of an image, a container or a runner
// into a directory, through the runner's own extraction (so nothing lands outside DIR).
#include <cstdio>

#include "isofs/media.h"
#include "runner/extract.h"
#include "tools/commands.h"
#include "tools/paths.h"
#include "tools/progress.h"

namespace tool {
namespace {

// What an extraction error means for the person who asked for it; `entry` is the entry's path
// below DIR where it failed, when the extraction named one.
std::string Explain(err_t e, const std::string& file, const std::string& dir,
                    const std::string& entry) {
  switch (e) {
    case kErrInvalidName:
      return file +
             " holds an entry name that cannot be written safely (empty, \".\", \"..\", a "
             "separator, a drive "
             "colon, or a name this system reserves) or a link leading out of the tree" +
             (entry.empty() ? "" : ": " + entry);
    case kErrStackOverflow:
      return file + " nests directories deeper than the " +
             std::to_string(kExtractPathComponents - 1) + " levels extraction allows";
    case kErrCancelled:
      return "extracting " + file + " was stopped; " + dir + " keeps what was written so far";
    case kErrCantResolveFilename:
      return "a directory extracted from " + file + " into " + dir +
             (entry.empty() ? "" : " (" + entry + ")") +
             " was replaced by something else while it was filled; extraction never writes through "
             "links";
    case kErrBadFormat:
    case kErrHandleEof:
    case kErrUnknownRevision:
      return file + " is incomplete, corrupt, or missing additional part files";
    case kErrFileExists:
      return dir + " already has something named " + (entry.empty() ? "like an entry" : entry) +
             " of " + file +
             " (a second entry of that name, or a file or link there before); extraction never "
             "overwrites or "
             "writes through links";
    default: return "cannot extract " + file + " to " + dir;
  }
}

void OnFailure(void* context, const char16_t* entry_path) {
  *static_cast<std::string*>(context) = ShownPath(entry_path);
}

// Windows makes no links: each one left out is named, so the user knows the tree lacks it.
void OnLinkSkipped(void*, const char16_t* entry_path) {
  std::fprintf(stderr, "isorun: warning: symbolic link %s not created (this system makes none)\n",
               ShownPath(entry_path).c_str());
}

struct Progress {
  ProgressBar* bar;
  uint64_t bytes;
};

void OnProgress(void* context, uint64_t bytes) {
  auto* progress = static_cast<Progress*>(context);
  progress->bytes = bytes;
  progress->bar->Update(bytes);
}

int RunExtract(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one FILE");
  const std::string& file = inv.args[0];
  const std::string dir = inv.Value("directory", ".");
  SeVolume* volume = nullptr;
  err_t e = OpenMedia(Wide(file).c_str(), kNoHandle, kNoHandle, &volume);
  if (e == kErrBadFormat || e == kErrHandleEof || e == kErrUnknownRevision)
    return Fail(
        inv, e,
        file + " is not a disc image, or is incomplete, corrupt, or missing additional part files");
  if (e) return Fail(inv, e, "cannot open " + file);
  uint64_t image_size = 0;
  volume->GetImageSize(&image_size);
  auto start = std::chrono::steady_clock::now();
  Progress progress{nullptr, 0};
  std::string failed_entry;
  {
    // The image size bounds what its files hold, so the bar may end short of full.
    ProgressBar bar("extracting", image_size);
    progress.bar = &bar;
    ExtractOptions options;
    options.progress = OnProgress;
    options.progress_context = &progress;
    options.on_failure = OnFailure;
    options.failure_context = &failed_entry;
    options.on_link_skipped = OnLinkSkipped;
    e = extract_volume(Wide(dir).c_str(), volume, options);
  }
  ReleaseMedia(volume);
  if (e) return Fail(inv, e, Explain(e, file, dir, failed_entry));
  double seconds = SecondsSince(start);
  std::printf("%s: %s extracted to %s in %.2f s\n", file.c_str(), HumanSize(progress.bytes).c_str(),
              dir.c_str(), seconds);
  return kExitOk;
}

}  // namespace

Command ExtractCommand() {
  return {"extract",
          "copy the main file system of an image, container or runner into a directory",
          "FILE [-C DIR]",
          {{"directory", 'C', "DIR",
            "where to extract (default: the current directory); made when missing"}},
          RunExtract};
}

}  // namespace tool
