// isorun ls FILE [PATH]: lists a directory of the image's main file system (or of ".$media"),
// reaching every entry by lookups and list streams exactly as extraction does.
#include <cinttypes>
#include <cstdio>

#include "isofs/media.h"
#include "tools/commands.h"
#include "tools/media_paths.h"

namespace tool {
namespace {

// Directories nested deeper than this end the walk with an error: an image can nest them far
// deeper than anyone reads.
constexpr int kMaxDepth = 64;

struct Lister {
  SeVolume* volume;
  bool long_form, recursive, all;
  uint64_t next_id = 1;
  int result = kExitOk;
  const Invocation* inv;

  void Print(const std::string& shown, const SeLookupResult& r) {
    if (!long_form) {
      std::printf("%s\n", shown.c_str());
      return;
    }
    char type = r.info.type == kSeTypeDirectory ? 'd' : r.info.type == kSeTypeLink ? 'l' : '-';
    std::printf("%c%c%c %12" PRIu64 " %s %s\n", type, r.info.attributes & 0x02 ? 'h' : '-',
                r.info.attributes & 0x04 ? 's' : '-',
                r.info.type == kSeTypeDirectory ? 0 : r.info.size,
                TimeText(r.info.modification_time).c_str(), shown.c_str());
  }

  // Lists the directory at `path` (already looked up as `id`); `prefix` leads every name shown.
  // The first failure is reported and ends the whole walk: a listing is whole or it fails.
  bool Directory(const MediaPath& path, uint64_t id, const std::string& prefix, int depth) {
    std::vector<std::string> names;
    if (all && path.parts().empty()) names.push_back(".$media");
    if (err_t e = ListDirectory(volume, id, next_id++, &names)) return Failed(e, path.Text());
    for (const std::string& name : names) {
      MediaPath child = path.Child(name);
      SeLookupResult r;
      if (err_t e = child.Lookup(volume, next_id++, &r)) return Failed(e, child.Text());
      Print(prefix + name, r);
      bool ok = true;
      if (recursive && r.info.type == kSeTypeDirectory) {
        ok = depth < kMaxDepth ? Directory(child, r.node_id, prefix + name + "/", depth + 1)
                               : Failed(kErrStackOverflow, child.Text());
      }
      volume->Forget(r.node_id, ~uint64_t{0});
      if (!ok) return false;
    }
    return true;
  }

  bool Failed(err_t e, const std::string& path) {
    result = Fail(*inv, e, MediaFailure(e, path));
    return false;
  }
};

int RunLs(const Invocation& inv) {
  if (inv.args.empty() || inv.args.size() > 2)
    return UsageError(inv, "expects FILE and an optional PATH");
  SeVolume* volume;
  if (int rc = OpenMediaFile(inv, inv.args[0], &volume)) return rc;
  Lister lister{volume, inv.Has("long"), inv.Has("recursive"), inv.Has("all"), 1, kExitOk, &inv};
  MediaPath path(inv.args.size() > 1 ? inv.args[1] : "");
  SeLookupResult r;
  if (err_t e = path.Lookup(volume, lister.next_id++, &r)) {
    lister.Failed(e, path.Text());
  } else if (r.info.type == kSeTypeDirectory) {
    lister.Directory(path, r.node_id, "", 0);
  } else {
    lister.Print(path.Text(), r);
  }
  ReleaseMedia(volume);
  return lister.result;
}

}  // namespace

Command LsCommand() {
  return {"ls",
          "list a directory inside an image (PATH is relative to the main file system)",
          "FILE [PATH]",
          {{"long", 'l', nullptr, "type, hidden/system flags, size and modification time (UTC)"},
           {"recursive", 'R', nullptr, "list subdirectories too, each entry by its path"},
           {"all", 'a', nullptr, "include .$media, the raw image and every volume of the disc"}},
          RunLs};
}

}  // namespace tool
