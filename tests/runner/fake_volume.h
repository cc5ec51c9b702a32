// An SeVolume over a tree built in memory, for the extraction tests: it checks how it is called
// (registered ids, listing streams, forgets, freed strings) and can misbehave on request (short
// reads, failing reads, declared sizes beyond its bytes).
#pragma once
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "isofs/se_volume.h"

namespace extract_test {

class FakeVolume final : public SeVolume {
 public:
  struct Node {
    std::string name;  // UTF-8, exactly as listed
    uint8_t type = kSeTypeFile;
    std::string data;
    uint64_t size = 0;  // declared size; reads past `data` deliver nothing
    uint64_t creation_time = 0, modification_time = 0;
    std::vector<size_t> children;
  };

  FakeVolume() {
    nodes_.emplace_back();
    nodes_[0].type = kSeTypeDirectory;
  }

  // Adds an entry below `parent` (0 = the main root) and returns its index.
  size_t Add(size_t parent, const std::string& name, uint8_t type, const std::string& data = "") {
    Node node;
    node.name = name;
    node.type = type;
    node.data = data;
    node.size = data.size();
    nodes_.push_back(node);
    nodes_[parent].children.push_back(nodes_.size() - 1);
    return nodes_.size() - 1;
  }
  size_t AddDirectory(size_t parent, const std::string& name) { return Add(parent, name, kSeTypeDirectory); }
  Node& node(size_t index) { return nodes_[index]; }

  // Misbehaviour on request.
  uint32_t max_read = ~0u;       // deliver at most this many bytes per read
  int fail_read_at = -1;         // the read (counted from 0) that fails with read_error
  err_t read_error = kErrReadFault;
  uint64_t image_size = 1ull << 30;

  // What the extraction did.
  std::vector<uint64_t> ids_offered;     // node ids handed to Lookup, in order
  std::vector<uint32_t> read_lengths;    // lengths asked of Read, in order
  int strings_out = 0;                   // names handed out and not yet freed
  size_t registered() const { return by_id_.size(); }
  size_t open_streams() const { return streams_.size(); }

  void Release() override {}
  err_t Verify(SeVerifyProgress*) override { return kOk; }
  void FreeString(char16_t* text) override {
    if (text) --strings_out;
    delete[] text;
  }

  err_t Lookup(const SePathComponent* components, uint32_t count, uint64_t node_id,
               SeLookupResult* result, char16_t** name) override {
    ids_offered.push_back(node_id);
    if (name) *name = nullptr;
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
      std::string want(components[i].utf8_name, components[i].utf8_length);
      size_t next = 0;
      for (size_t child : nodes_[at].children)
        if (!next && nodes_[child].name == want) next = child;  // the first of equal names
      if (!next) return i + 1 == count ? kErrFileNotFound : kErrPathNotFound;
      at = next;
    }
    uint64_t id = node_id;
    for (auto& [known, index] : by_id_)
      if (index == at) id = known;
    by_id_[id] = at;
    const Node& n = nodes_[at];
    *result = SeLookupResult{id, 1, SeEntryInfo{n.type, 0x20, at, n.size, n.creation_time, 0, n.modification_time, 0}};
    if (name && count > 0) {
      *name = new char16_t[n.name.size() + 1]();
      for (size_t i = 0; i < n.name.size(); ++i) (*name)[i] = static_cast<unsigned char>(n.name[i]);
      ++strings_out;
    }
    return kOk;
  }

  err_t Forget(uint64_t node_id, uint64_t) override {
    by_id_.erase(node_id);
    for (auto it = streams_.begin(); it != streams_.end();)
      it = it->first.first == node_id ? streams_.erase(it) : std::next(it);
    return kOk;
  }

  err_t List(uint64_t directory_id, uint64_t stream_id, SeListResult* receiver) override {
    auto found = by_id_.find(directory_id);
    if (found == by_id_.end()) return kErrInvalidParameter;
    const Node& directory = nodes_[found->second];
    size_t& position = streams_[{directory_id, stream_id}];
    for (bool more = true; more && position < directory.children.size();) {
      const Node& child = nodes_[directory.children[position]];
      SeEntryInfo info{child.type, 0x20, 0, child.size, child.creation_time, 0, child.modification_time, 0};
      if (!receiver->OnEntry(&info, child.name.c_str(), &more)) break;
      ++position;
    }
    if (position >= directory.children.size()) receiver->OnEnd();
    return kOk;
  }
  err_t CloseList(uint64_t directory_id, uint64_t stream_id) override {
    streams_.erase({directory_id, stream_id});
    return kOk;
  }

  err_t Read(uint64_t node_id, uint64_t offset, void* buffer, uint32_t length, uint32_t* count) override {
    *count = 0;
    int index = static_cast<int>(read_lengths.size());
    read_lengths.push_back(length);
    if (index == fail_read_at) return read_error;
    auto found = by_id_.find(node_id);
    if (found == by_id_.end()) return kErrInvalidParameter;
    const std::string& data = nodes_[found->second].data;
    if (offset >= data.size()) return kOk;
    uint64_t n = std::min<uint64_t>({length, data.size() - offset, max_read});
    std::memcpy(buffer, data.data() + offset, n);
    *count = static_cast<uint32_t>(n);
    return kOk;
  }

  err_t GetImageSize(uint64_t* size) override {
    *size = image_size;
    return kOk;
  }
  err_t CloseFiles() override { return kOk; }
  err_t GetVolumeInfo(uint64_t, uint64_t*, char16_t**) override { return kOk; }
  err_t GetAttributes(uint64_t, SeLookupResult*) override { return kErrNotSupported; }

 private:
  std::vector<Node> nodes_;
  std::map<uint64_t, size_t> by_id_;
  std::map<std::pair<uint64_t, uint64_t>, size_t> streams_;
};

}  // namespace extract_test
