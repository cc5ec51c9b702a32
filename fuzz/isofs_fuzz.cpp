// Fuzzes the file-system readers: the input is opened as media through the reader registry (a
// plain image or a container), and the whole tree, ".$media" included, is walked as extraction
// walks it (List on a stream, Lookup by full path, Read of every file), within a budget of
// entries, depth and bytes that keeps each input quick.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_media.h"

namespace {

constexpr int kMaxDepth = 12;
constexpr uint64_t kMaxReadPerFile = 1 << 18;

struct Walk {
  SeVolume* volume;
  std::vector<std::string> names;
  uint64_t next_id = 1;
  int budget = 3000;
  uint8_t buffer[65536];

  std::vector<SePathComponent> Components() const {
    std::vector<SePathComponent> c;
    for (const std::string& n : names) c.push_back({nullptr, 0, n.c_str(), uint32_t(n.size())});
    return c;
  }

  void Entry(int depth) {
    if (--budget < 0) return;
    std::vector<SePathComponent> c = Components();
    SeLookupResult r;
    char16_t* name = nullptr;
    if (volume->Lookup(c.data(), uint32_t(c.size()), next_id++, &r, &name) != kOk) return;
    volume->FreeString(name);
    uint64_t time;
    char16_t* label = nullptr;
    if (volume->GetVolumeInfo(r.node_id, &time, &label) == kOk) volume->FreeString(label);
    if (r.info.type == kSeTypeFile || r.info.type == kSeTypeLink) {
      uint64_t end = r.info.size < kMaxReadPerFile ? r.info.size : kMaxReadPerFile;
      for (uint64_t at = 0; at < end; at += sizeof buffer) {
        uint32_t count = 0;
        if (volume->Read(r.node_id, at, buffer, sizeof buffer, &count) != kOk) break;
        if (count > sizeof buffer) std::abort();
      }
    } else if (r.info.type == kSeTypeDirectory && depth < kMaxDepth) {
      Directory(r.node_id, depth);
    }
    volume->Forget(r.node_id, ~uint64_t{0});
  }

  // One entry per List call, as extraction takes them.
  void Directory(uint64_t id, int depth) {
    struct One final : SeListResult {
      std::string name;
      bool OnEntry(const SeEntryInfo*, const char* n, bool* more) override {
        if (!name.empty()) return false;
        name = n;
        *more = false;
        return true;
      }
      void OnEnd() override {}
    };
    uint64_t stream = next_id++;
    while (budget > 0) {
      One one;
      if (volume->List(id, stream, &one) != kOk || one.name.empty()) break;
      names.push_back(one.name);
      Entry(depth + 1);
      names.pop_back();
    }
    volume->CloseList(id, stream);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return WithFuzzedMedia(data, size, [](SeVolume* volume) {
    static Walk walk;
    walk.volume = volume;
    walk.names.clear();
    walk.budget = 3000;
    walk.Entry(0);
    walk.names = {".$media"};
    walk.Entry(0);
    volume->Verify(nullptr);
  });
}
