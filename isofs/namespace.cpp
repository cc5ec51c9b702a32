// Entries, the arena, sorted children, lazy expansion, the pending queue, the id registry and
// list streams of IsoFs::Media.
#include <cstring>

#include "base/pool.h"
#include "base/text.h"
#include "isofs/media_impl.h"

namespace IsoFs {

err_t AnswerVolumeInfo(uint64_t time, const char16_t* label, uint64_t* time_out,
                       char16_t** label_out) {
  *time_out = time;
  *label_out = CopyText16(label).release();
  return *label_out ? kOk : kErrOutOfMemory;
}

// ---- Arena ---------------------------------------------------------------------------------

struct Arena::Chunk {
  Chunk* next;
  // The chunk's bytes follow this 8-byte header.
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this) + 8; }
};
static_assert(sizeof(void*) <= 8);

void* Arena::Allocate(size_t bytes) {
  size_t rounded = (bytes + 7) & ~size_t{7};
  if (bytes > kChunkBytes) {
    // A block of its own behind the current chunk, which stays current.
    if (bytes > SIZE_MAX - 8) return nullptr;
    auto* block = static_cast<Chunk*>(HeapAllocate(bytes + 8));
    if (!block) return nullptr;
    if (head_) {
      block->next = head_->next;
      head_->next = block;
    } else {
      head_ = block;
      used_ = kChunkBytes;  // full: the next small request opens a chunk
    }
    return block->bytes();
  }
  if (!head_ || used_ + rounded > kChunkBytes) {
    auto* chunk = static_cast<Chunk*>(HeapAllocate(kChunkBytes + 8));
    if (!chunk) return nullptr;
    chunk->next = head_;
    head_ = chunk;
    used_ = 0;
  }
  void* piece = head_->bytes() + used_;
  used_ += rounded;
  return piece;
}

void Arena::FreeAll() {
  while (head_) {
    Chunk* next = head_->next;
    HeapFree(head_);
    head_ = next;
  }
  used_ = 0;
}

void ExpandWorkState::Destroy() {
  this->~ExpandWorkState();
  HeapFree(this);
}

// ---- Stream reader -------------------------------------------------------------------------

StreamReader::StreamReader(Media* media, const Entry* entry)
    : media_(media), entry_(entry), run_(entry->last_run ? &entry->first_run : nullptr) {}

err_t StreamReader::NextSector() {
  if (started_) {
    ++sector_in_run_;
  }
  while (run_ && sector_in_run_ >= run_->sector_count) run_ = run_->next, sector_in_run_ = 0;
  if (!run_ || consumed_ >= entry_->size) return kErrHandleEof;
  uint32_t start = started_ ? 0 : entry_->data_offset;
  started_ = true;
  sector_ = uint64_t(run_->start_sector) + sector_in_run_;
  uint64_t left = entry_->size - consumed_;
  offset_ = start;
  available_ = left < kSectorSize - start ? uint32_t(start + left) : kSectorSize;
  if (run_->start_sector == 0 && entry_->volume) {
    std::memset(buffer_, 0, sizeof buffer_);
    return kOk;
  }
  // Expansion never starts on a directory whose runs pass the image's end (InsideImage).
  return media_->ReadImage(sector_ * kSectorSize, buffer_, kSectorSize);
}

err_t StreamReader::Read(void* buffer, uint32_t n, uint64_t* position) {
  auto* out = static_cast<uint8_t*>(buffer);
  bool first = true;
  while (n > 0) {
    if (offset_ >= available_) {
      if (err_t e = NextSector()) return e;
      if (offset_ >= available_) return kErrHandleEof;
    }
    if (first && position) *position = sector_ * kSectorSize + offset_;
    first = false;
    uint32_t take = available_ - offset_;
    if (take > n) take = n;
    if (out) std::memcpy(out, buffer_ + offset_, take), out += take;
    offset_ += take;
    consumed_ += take;
    n -= take;
  }
  return kOk;
}

err_t StreamReader::Align(uint32_t m) {
  uint32_t over = uint32_t(consumed_ % m);
  return over ? Skip(m - over) : kOk;
}

// ---- Entries and children ------------------------------------------------------------------

namespace {

struct NameKey {
  const char* name;
  uint32_t length;
};

// Utf8CompareNoCase, with the common all-ASCII stretch of two names compared byte by byte
// (a-z and A-Z fold alike there); the rest goes to the full comparison.
int CompareNames(const char* a, uint32_t alen, const char* b, uint32_t blen) {
  uint32_t i = 0;
  for (; i < alen && i < blen; ++i) {
    uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
    if (x == 0 || y == 0 || x >= 0x80 || y >= 0x80) break;
    if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
    if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i == alen && i == blen) return 0;
  return Utf8CompareNoCase(a + i, alen - i, b + i, blen - i);
}

int CompareChildKey(const void* key, const rblink_t* node) {
  auto* k = static_cast<const NameKey*>(key);
  const Entry* e = EntryOfSibling(const_cast<rblink_t*>(node));
  return CompareNames(k->name, k->length, e->name(), e->name_length);
}

int CompareChildren(const rblink_t* a, const rblink_t* b) {
  const Entry* x = EntryOfSibling(const_cast<rblink_t*>(a));
  const Entry* y = EntryOfSibling(const_cast<rblink_t*>(b));
  return CompareNames(x->name(), x->name_length, y->name(), y->name_length);
}

// The child of that name under case folding. Of names that differ only in case (UDF and
// Joliet allow them side by side) the one spelt exactly so wins, so each twin is reached by its
// own name; with no exact spelling the first of them is found.
Entry* FindChild(const Entry* parent, const char* name, uint32_t length) {
  NameKey key{name, length};
  rblink_t* first = rb_search(&parent->children, &key, CompareChildKey);
  for (rblink_t* link = first; link && CompareChildKey(&key, link) == 0; link = rb_next(link)) {
    const Entry* e = EntryOfSibling(link);
    if (e->name_length == length && std::memcmp(e->name(), name, length) == 0)
      return EntryOfSibling(link);
  }
  return first ? EntryOfSibling(first) : nullptr;
}

int CompareIds(const rblink_t* a, const rblink_t* b) {
  uint64_t x = reinterpret_cast<const Entry*>(a)->node_id;
  uint64_t y = reinterpret_cast<const Entry*>(b)->node_id;
  return x < y ? -1 : x > y;
}

int CompareIdKey(const void* key, const rblink_t* node) {
  uint64_t x = *static_cast<const uint64_t*>(key);
  uint64_t y = reinterpret_cast<const Entry*>(node)->node_id;
  return x < y ? -1 : x > y;
}

int CompareWork(const rblink_t* a, const rblink_t* b) {
  auto* x = static_cast<const ExpandWorkState*>(a);
  auto* y = static_cast<const ExpandWorkState*>(b);
  if (x->position != y->position) return x->position < y->position ? -1 : 1;
  return x->order < y->order ? -1 : x->order > y->order;
}

// Names are at most this long; longer ones are cut (names come from records of at most a few
// hundred bytes, so only hostile input gets here).
constexpr uint32_t kMaxNameLength = 0xFFFF;

}  // namespace

Entry* Media::NewEntry(Volume* volume, const char* name, uint32_t length, uint64_t file_index,
                       uint8_t type) {
  if (length > kMaxNameLength) length = kMaxNameLength;
  auto* e = static_cast<Entry*>(arena_.Allocate(sizeof(Entry) + length + 1));
  if (!e) return nullptr;
  e->volume = volume;
  e->file_index = file_index;
  e->type = type;
  e->name_length = uint16_t(length);
  std::memcpy(e->name(), name, length);
  return e;
}

err_t Media::AddChild(Entry* parent, Volume* volume, const char* name, uint32_t short_length,
                      uint32_t full_length, uint64_t file_index, uint8_t type, Entry** out) {
  *out = nullptr;
  uint32_t length = short_length;
  if (FindChild(parent, name, short_length) && short_length < full_length) length = full_length;
  Entry* e = NewEntry(volume, name, length, file_index, type);
  if (!e) return kErrOutOfMemory;
  e->parent = parent;
  // A name already there: the new entry goes directly after the first child of that name, so
  // equal names stay side by side; otherwise at its sorted place. The search uses the name as
  // stored, which NewEntry may have cut.
  NameKey key{e->name(), e->name_length};
  if (rblink_t* first = rb_search(&parent->children, &key, CompareChildKey))
    rb_insert_after(&parent->children, first, &e->sibling_link);
  else
    rb_insert(&parent->children, &e->sibling_link, CompareChildren);
  *out = e;
  return kOk;
}

err_t Media::AppendRun(Entry* entry, uint32_t start_sector, uint32_t sector_count) {
  Run* run = &entry->first_run;
  if (entry->last_run) {
    run = static_cast<Run*>(arena_.Allocate(sizeof(Run)));
    if (!run) return kErrOutOfMemory;
    entry->last_run->next = run;
  }
  run->start_sector = start_sector;
  run->sector_count = sector_count;
  entry->last_run = run;
  return kOk;
}

// ---- Expansion and the pending queue -------------------------------------------------------

namespace {

// A directory's data must lie inside the image: one claiming more would otherwise be read
// sector by sector up to the image's end.
bool InsideImage(const Entry* directory, uint32_t sector_count) {
  if (directory->size > uint64_t(sector_count) * kSectorSize) return false;
  for (const Run* run = directory->last_run ? &directory->first_run : nullptr; run;
       run = run->next) {
    if (run->start_sector != 0 && uint64_t(run->start_sector) + run->sector_count > sector_count)
      return false;
  }
  return true;
}

// A directory whose data is that of one of its ancestors contains itself: expanding it would
// go on for ever.
bool LoopsBack(const Entry* directory) {
  uint32_t start = directory->last_run ? directory->first_run.start_sector : 0;
  if (start == 0) return false;
  for (const Entry* a = directory->parent; a; a = a->parent) {
    if (a->volume == directory->volume && a->last_run && a->first_run.start_sector == start)
      return true;
  }
  return false;
}

// What expanding the entry met: 0 for a directory read whole (or an entry that is none).
err_t ExpansionError(const Entry* entry) {
  uint32_t status = entry->expansion_status;
  return status == kErrNoMoreFiles || status == kErrInvalidParameter ? kOk : status;
}

}  // namespace

void Media::Expand(Entry* directory) {
  if (directory->expansion_status != 0) return;
  directory->expansion_status = kErrInvalidParameter;
  if (directory->type != kSeTypeDirectory) return;
  directory->expansion_status = kErrNoMoreFiles;
  if (!directory->volume) return;
  if (directory->damage) {
    directory->expansion_status = directory->damage;
    return;
  }
  if (!InsideImage(directory, sector_count_) || LoopsBack(directory)) {
    directory->expansion_status = kErrBadFormat;
    return;
  }
  bool run_queue = false;
  if (err_t e = directory->volume->Expand(directory, &run_queue)) directory->expansion_status = e;
  if (run_queue) RunPendingQueue();
}

void Media::Queue(ExpandWorkState* item, uint64_t position) {
  item->position = position;
  item->order = pending_order_--;
  rb_insert(&pending_, item, CompareWork);
}

void Media::RunPendingQueue() {
  if (!pending_.root) return;
  constexpr uint32_t kBufferSize = 4 * kSectorSize;
  auto* buffer = static_cast<uint8_t*>(HeapAllocate(kBufferSize));
  while (rblink_t* first = rb_first(&pending_)) {
    rb_remove(&pending_, first);
    auto* item = static_cast<ExpandWorkState*>(first);
    if (buffer)
      item->entry->volume->ProcessWork(item, buffer, kBufferSize);
    else
      item->Destroy();
  }
  HeapFree(buffer);
}

void Media::DiscardVolume(Volume* volume) {
  for (rblink_t *link = rb_first(&pending_), *next; link; link = next) {
    next = rb_next(link);
    auto* item = static_cast<ExpandWorkState*>(link);
    if (item->entry->volume == volume) {
      rb_remove(&pending_, link);
      item->Destroy();
    }
  }
  rbtree_t* children = &media_directory_->children;
  for (rblink_t *link = rb_first(children), *next; link; link = next) {
    next = rb_next(link);
    if (EntryOfSibling(link)->volume == volume) rb_remove(children, link);
  }
}

// ---- Registry and lookups ------------------------------------------------------------------

Entry* Media::FindRegistered(uint64_t node_id) const {
  rblink_t* link = rb_search(&registry_, &node_id, CompareIdKey);
  return reinterpret_cast<Entry*>(link);
}

Entry* Media::ResolveId(uint64_t node_id) const {
  return node_id == 0 ? main_root_ : FindRegistered(node_id);
}

void Media::FillInfo(const Entry* entry, bool with_size, SeEntryInfo* info) const {
  *info = SeEntryInfo{};
  info->type = entry->type;
  info->attributes = entry->attributes;
  info->file_index = entry->file_index;
  info->size = with_size ? entry->size : 0;
  info->creation_time = entry->creation_time;
  info->modification_time = entry->modification_time;
  info->mode = entry->mode;
}

err_t Media::SetLinkTarget(Entry* entry, const char* target, uint32_t length) {
  auto* copy = static_cast<char*>(arena_.Allocate(length + 1));
  if (!copy) return kErrOutOfMemory;
  std::memcpy(copy, target, length);
  entry->link_target = copy;
  entry->size = length;
  entry->type = kSeTypeLink;
  return kOk;
}

namespace {

// ".$media" with a-z taken as A-Z and nothing else folded.
bool NamesMediaDirectory(const SePathComponent& c) {
  static constexpr char kName[] = ".$media";
  if (!c.utf8_name || c.utf8_length != sizeof kName - 1) return false;
  for (uint32_t i = 0; i < c.utf8_length; ++i) {
    char a = c.utf8_name[i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (a != kName[i]) return false;
  }
  return true;
}

}  // namespace

err_t Media::Lookup(const SePathComponent* components, uint32_t count, uint64_t node_id,
                    SeLookupResult* result, char16_t** name) {
  *result = SeLookupResult{};
  if (name) *name = nullptr;
  uint32_t i = 0;
  Entry* at = main_root_;
  if (count > 0 && NamesMediaDirectory(components[0])) at = media_directory_, i = 1;
  if (!at) return kErrPathNotFound;
  for (; i < count; ++i) {
    Entry* child = nullptr;
    if (at->type == kSeTypeDirectory) {
      Expand(at);
      if (err_t e = ExpansionError(at)) return e;
      const SePathComponent& c = components[i];
      if (c.utf8_name) child = FindChild(at, c.utf8_name, c.utf8_length);
    }
    if (!child) return i + 1 < count ? kErrPathNotFound : kErrFileNotFound;
    at = child;
  }
  RunPendingQueue();
  if (at->lookup_count == 0) {
    at->node_id = node_id;
    rb_insert(&registry_, &at->registry_link, CompareIds);
  }
  ++at->lookup_count;
  result->node_id = at->node_id;
  result->lookup_count = at->lookup_count;
  FillInfo(at, true, &result->info);
  if (name && count > 0) {
    size_t units = Utf8ToUtf16(nullptr, 0, at->name(), at->name_length) + 1;
    auto* wide = static_cast<char16_t*>(HeapAllocate(units * sizeof(char16_t)));
    if (wide) Utf8ToUtf16(wide, units, at->name(), at->name_length);
    *name = wide;
  }
  return kOk;
}

err_t Media::GetAttributes(uint64_t node_id, SeLookupResult* result) {
  *result = SeLookupResult{};
  Entry* e = ResolveId(node_id);
  if (!e) return kErrInvalidParameter;
  // Only a registered entry counts lookups: a count on the unregistered main root would keep
  // its first real lookup from registering it.
  if (rb_linked(&e->registry_link)) ++e->lookup_count;
  result->node_id = e->node_id;
  result->lookup_count = e->lookup_count;
  FillInfo(e, true, &result->info);
  return kOk;
}

// ---- List streams --------------------------------------------------------------------------

struct Media::ListStream {
  rblink_t link;
  Entry* directory;
  Entry* next;
  uint64_t directory_id;
  uint64_t stream_id;
};

namespace {

struct StreamKey {
  uint64_t directory_id;
  uint64_t stream_id;
  bool any_stream;  // match every stream of the directory
};

template <typename S>
int CompareStreamKey(const void* key, const rblink_t* node) {
  auto* k = static_cast<const StreamKey*>(key);
  auto* s = reinterpret_cast<const S*>(node);
  if (k->directory_id != s->directory_id) return k->directory_id < s->directory_id ? -1 : 1;
  if (k->any_stream) return 0;
  return k->stream_id < s->stream_id ? -1 : k->stream_id > s->stream_id;
}

template <typename S>
int CompareStreams(const rblink_t* a, const rblink_t* b) {
  auto* s = reinterpret_cast<const S*>(b);
  StreamKey key{reinterpret_cast<const S*>(a)->directory_id,
                reinterpret_cast<const S*>(a)->stream_id, false};
  return CompareStreamKey<S>(&key, &s->link);
}

}  // namespace

Media::ListStream* Media::FindStream(uint64_t directory_id, uint64_t stream_id) const {
  StreamKey key{directory_id, stream_id, false};
  return reinterpret_cast<ListStream*>(rb_search(&streams_, &key, CompareStreamKey<ListStream>));
}

void Media::DeleteStreams(uint64_t directory_id) {
  StreamKey key{directory_id, 0, true};
  while (rblink_t* link = rb_search(&streams_, &key, CompareStreamKey<ListStream>)) {
    rb_remove(&streams_, link);
    HeapFree(link);
  }
}

err_t Media::Forget(uint64_t node_id, uint64_t count) {
  Entry* e = FindRegistered(node_id);
  if (!e) return kErrInvalidParameter;
  bool entirely = count == ~uint64_t{0};
  if (!entirely && e->lookup_count > count) return kOk;
  DeleteStreams(node_id);
  if (entirely) {
    rb_remove(&registry_, &e->registry_link);
    e->node_id = 0;
    e->lookup_count = 0;
  }
  return kOk;
}

err_t Media::List(uint64_t directory_id, uint64_t stream_id, SeListResult* receiver) {
  ListStream* stream = FindStream(directory_id, stream_id);
  if (!stream) {
    Entry* directory = FindRegistered(directory_id);
    if (!directory) return kErrInvalidParameter;
    stream = static_cast<ListStream*>(HeapAllocate(sizeof(ListStream)));
    if (!stream) return kErrOutOfMemory;
    stream->directory = directory;
    stream->directory_id = directory_id;
    stream->stream_id = stream_id;
    rb_insert(&streams_, &stream->link, CompareStreams<ListStream>);
    Expand(directory);
    RunPendingQueue();
    rblink_t* first = rb_first(&directory->children);
    stream->next = first ? EntryOfSibling(first) : nullptr;
  }
  // A directory read only in part, or an entry whose structures are unsound, fails the
  // listing: a caller never takes a short listing for the whole directory.
  if (err_t e = ExpansionError(stream->directory)) return e;
  while (Entry* child = stream->next) {
    if (child->damage) return child->damage;
    SeEntryInfo info;
    FillInfo(child, child->type != kSeTypeDirectory, &info);
    bool more = false;
    if (!receiver->OnEntry(&info, child->name(), &more)) return kOk;
    rblink_t* after = rb_next(&child->sibling_link);
    stream->next = after ? EntryOfSibling(after) : nullptr;
    if (!more) return kOk;
  }
  receiver->OnEnd();
  return kOk;
}

err_t Media::CloseList(uint64_t directory_id, uint64_t stream_id) {
  ListStream* stream = FindStream(directory_id, stream_id);
  if (!stream) return kErrInvalidParameter;
  rb_remove(&streams_, &stream->link);
  HeapFree(stream);
  return kOk;
}

}  // namespace IsoFs
