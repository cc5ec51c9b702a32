#include "tools/media_paths.h"

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
  for (const std::string& p : parts_) components.push_back({nullptr, 0, p.data(), uint32_t(p.size())});
  return volume->Lookup(components.data(), uint32_t(components.size()), node_id, result, nullptr);
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

}  // namespace tool
