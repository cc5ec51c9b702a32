// Opening FILE as media for the commands that look inside an image (ls, cat), and walking it by
// paths the way extraction does: every entry is reached by a lookup of its whole path from the
// main root (or from ".$media"), every directory is read through a list stream.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "isofs/se_volume.h"
#include "tools/tool.h"

namespace tool {

// On success returns kExitOk with *volume (release it); otherwise prints the failure.
int OpenMediaFile(const Invocation& inv, const std::string& path, SeVolume** volume);

// A path inside the image as lookup components: "a/b\c" gives a, b, c; empty parts vanish.
class MediaPath {
 public:
  MediaPath() = default;
  explicit MediaPath(const std::string& text);
  MediaPath Child(const std::string& name) const;
  std::string Text() const;  // "a/b/c"
  err_t Lookup(SeVolume* volume, uint64_t node_id, SeLookupResult* result) const;
  const std::vector<std::string>& parts() const { return parts_; }

 private:
  std::vector<std::string> parts_;
};

// What a failed lookup, listing or read of `path` inside the image means, as a message.
std::string MediaFailure(err_t e, const std::string& path);

// The names of a directory one List call at a time, as extraction takes them.
err_t ListDirectory(SeVolume* volume, uint64_t directory_id, uint64_t stream_id,
                    std::vector<std::string>* names);

// "YYYY-MM-DD HH:MM:SS" in UTC from 100-ns units since 1601, or dashes when unknown (0).
std::string TimeText(uint64_t time);

// Writes bytes to standard output unchanged (no newline translation on Windows).
void SetStdoutBinary();

}  // namespace tool
