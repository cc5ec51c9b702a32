#include "tools/media_paths.h"

#include <cinttypes>
#include <cstdio>

#include "isofs/media.h"
#include "tools/paths.h"

namespace tool {

int OpenMediaFile(const Invocation& inv, const std::string& path, SeVolume** volume) {
  err_t e = OpenMedia(Wide(path).c_str(), kNoHandle, kNoHandle, volume);
  if (e == kOk) return kExitOk;
  if (e == kErrBadFormat || e == kErrHandleEof || e == kErrUnknownRevision)
    return Fail(inv, e, path + " holds no readable file system, or is incomplete or corrupt");
  return Fail(inv, e, "cannot open " + path);
}

MediaPath::MediaPath(const std::string& text) {
  std::string part;
  for (char c : text + "/") {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts_.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
}

MediaPath MediaPath::Child(const std::string& name) const {
  MediaPath child = *this;
  child.parts_.push_back(name);
  return child;
}

std::string MediaPath::Text() const {
  std::string text;
  for (const std::string& p : parts_) text += (text.empty() ? "" : "/") + p;
  return text;
}

err_t MediaPath::Lookup(SeVolume* volume, uint64_t node_id, SeLookupResult* result) const {
  std::vector<SePathComponent> components;
  for (const std::string& p : parts_)
    components.push_back({nullptr, 0, p.data(), uint32_t(p.size())});
  return volume->Lookup(components.data(), uint32_t(components.size()), node_id, result, nullptr);
}

std::string MediaFailure(err_t e, const std::string& path) {
  const std::string shown = path.empty() ? "/" : path;
  switch (e) {
    case kErrFileNotFound:
    case kErrPathNotFound: return shown + ": no such file or directory";
    case kErrBadFormat:
    case kErrHandleEof:
    case kErrUnknownRevision:
      return shown + " cannot be read whole: the image is corrupt or incomplete";
    case kErrStackOverflow:
      return shown + " cannot be read whole: its structures nest or chain beyond the bound";
    default: return "cannot read " + shown;
  }
}

err_t ListDirectory(SeVolume* volume, uint64_t directory_id, uint64_t stream_id,
                    std::vector<std::string>* names) {
  class One final : public SeListResult {
   public:
    bool OnEntry(const SeEntryInfo*, const char* name, bool* more) override {
      *more = false;
      if (taken) return false;
      this->name = name;
      taken = true;
      return true;
    }
    void OnEnd() override {}
    std::string name;
    bool taken = false;
  };
  err_t e = kOk;
  for (;;) {
    One one;
    if ((e = volume->List(directory_id, stream_id, &one)) != kOk || !one.taken) break;
    names->push_back(one.name);
  }
  volume->CloseList(directory_id, stream_id);
  return e;
}

std::string TimeText(uint64_t time) {
  if (time == 0) return "-------------------";
  int64_t seconds = int64_t(time / 10000000) - 11644473600;
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  // Civil date from days since 1970-01-01.
  int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2);
  char text[96];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02d:%02d:%02d", year,
                month, day, int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
  return text;
}

}  // namespace tool
