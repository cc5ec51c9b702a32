// IsoFs::Media, the SeVolume over one disc image: its namespace (".$media" with "image.iso" and
// a root per volume, and the main root), the pending queue, the id registry and list streams.
// The volumes reach the media through the operations below; callers reach it only as SeVolume.
#pragma once
#include <cstdint>

#include "base/thread.h"
#include "isofs/namespace.h"
#include "isofs/se_volume.h"

class IsoReader;
class ImageSource;

namespace IsoFs {

class Media final : public SeVolume {
 public:
  Media() = default;

  // The open sequence: reader, password prompt, descriptor scan, UDF volume.
  err_t Open(ImageSource* source, const char16_t* path, intptr_t input, intptr_t output);

  // SeVolume
  void Release() override;
  err_t Verify(SeVerifyProgress* progress) override;
  void FreeString(char16_t* text) override;
  err_t Lookup(const SePathComponent* components, uint32_t count, uint64_t node_id,
               SeLookupResult* result, char16_t** name) override;
  err_t Forget(uint64_t node_id, uint64_t count) override;
  err_t List(uint64_t directory_id, uint64_t stream_id, SeListResult* receiver) override;
  err_t CloseList(uint64_t directory_id, uint64_t stream_id) override;
  err_t Read(uint64_t node_id, uint64_t offset, void* buffer, uint32_t length,
             uint32_t* count) override;
  err_t GetImageSize(uint64_t* size) override;
  err_t CloseFiles() override;
  err_t GetVolumeInfo(uint64_t node_id, uint64_t* time, char16_t** label) override;
  err_t GetAttributes(uint64_t node_id, SeLookupResult* result) override;

  // ---- For the volumes ----
  // Adds a child under the short name, or the full one when a sibling has the short name
  // already (duplicates of the full name stay side by side). kErrOutOfMemory when memory runs out.
  err_t AddChild(Entry* parent, Volume* volume, const char* name, uint32_t short_length,
                 uint32_t full_length, uint64_t file_index, uint8_t type, Entry** out);
  // Appends a run at the tail of the entry's extent list (kErrOutOfMemory when memory runs out).
  err_t AppendRun(Entry* entry, uint32_t start_sector, uint32_t sector_count);
  // Makes the entry a symbolic link to `target` (kErrOutOfMemory when memory runs out).
  err_t SetLinkTarget(Entry* entry, const char* target, uint32_t length);
  void Queue(ExpandWorkState* item, uint64_t position);
  void RunPendingQueue();
  // Forgets a volume that failed to open: its queued items are deleted and its entries leave
  // the media directory.
  void DiscardVolume(Volume* volume);
  err_t ReadImage(uint64_t offset, void* buffer, uint32_t length);
  uint32_t sector_count() const { return sector_count_; }
  Entry* media_directory() const { return media_directory_; }
  void set_main_root(Entry* root, bool rock_ridge = false) {
    main_root_ = root;
    main_root_rock_ridge_ = rock_ridge;
  }
  Entry* main_root() const { return main_root_; }
  bool main_root_rock_ridge() const { return main_root_rock_ridge_; }

  // Expands a directory once (status 0 -> kErrInvalidParameter / kErrNoMoreFiles / the volume's
  // error).
  void Expand(Entry* directory);

 private:
  struct ListStream;
  ~Media();
  Entry* NewEntry(Volume* volume, const char* name, uint32_t length, uint64_t file_index,
                  uint8_t type);
  Entry* FindRegistered(uint64_t node_id) const;
  Entry* ResolveId(uint64_t node_id) const;  // 0 = the main root
  ListStream* FindStream(uint64_t directory_id, uint64_t stream_id) const;
  void DeleteStreams(uint64_t directory_id);
  void FillInfo(const Entry* entry, bool with_size, SeEntryInfo* info) const;
  err_t ScanDescriptors(uint8_t* scratch, bool* udf_seen);
  err_t ScanSession(uint32_t session, uint32_t sessions, uint64_t base, uint8_t* scratch,
                    bool* udf_seen, bool* stop);

  light_lock_t lock_;
  uint32_t references_ = 1;
  Arena arena_;
  IsoReader* reader_ = nullptr;
  uint32_t sector_count_ = 0;
  uint64_t image_size_ = 0;
  Entry* media_directory_ = nullptr;
  Entry* main_root_ = nullptr;
  bool main_root_rock_ridge_ = false;
  rbtree_t pending_ = {};
  uint64_t pending_order_ = ~uint64_t{0};
  rbtree_t registry_ = {};
  rbtree_t streams_ = {};
};

}  // namespace IsoFs
