#include "usertext/user_text.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/format.h"
#include "base/pool.h"
#include "base/text.h"
#include "base/thread.h"
#include "base/thread_os.h"
#include "usertext/locale.h"
#include "usertext/ut_out.h"

// One entry: a single heap block holding the links, then the identifier and the text, both
// NUL-terminated.
struct UtEntry {
  rblink_t link;  // first, so a link is its entry
  const char16_t* id;
  size_t id_length;
  const char16_t* text;
  size_t text_length;
};

// The entries in identifier order; shared by reference count, freed with the last reference.
struct UtEntryStore {
  uint32_t references;
  rbtree_t tree;
};

namespace {

// A stretch of UTF-16 text given by its length.
struct TextView {
  const char16_t* text;
  size_t length;
};

constexpr char16_t kMissingArg[] = u"missing_arg";
constexpr size_t kMissingArgLength = sizeof kMissingArg / sizeof(char16_t) - 1;
constexpr size_t kUserTextErrorLength = sizeof kUserTextError / sizeof(char16_t) - 1;
constexpr char kTestModeVariable[] = "TARNU_USERTEXTTESTMODE";
// Defaults up to this many units are converted on the stack.
constexpr size_t kDefaultLocalUnits = 50;
// Results shorter than this are built on the stack and expanded once.
constexpr size_t kFormatLocalUnits = 100;
// Deeper %(id) references are copied unexpanded.
constexpr int kMaxNesting = 6;
// Units an expansion may produce, counting the measuring passes of nested references. Texts
// that reference each other many times over would otherwise take time and memory exponential
// in the nesting depth; past this bound the lookup gives "usertext_error".
constexpr uint64_t kMaxExpansionWork = uint64_t(1) << 22;

UtEntry* AsEntry(const rblink_t* link) {
  return reinterpret_cast<UtEntry*>(const_cast<rblink_t*>(link));
}

int CompareIds(const char16_t* a, size_t a_length, const char16_t* b, size_t b_length) {
  return AsciiCompareNoCase(a, ptrdiff_t(a_length), b, ptrdiff_t(b_length));
}

int CompareEntries(const rblink_t* a, const rblink_t* b) {
  return CompareIds(AsEntry(a)->id, AsEntry(a)->id_length, AsEntry(b)->id, AsEntry(b)->id_length);
}

int CompareKey(const void* key, const rblink_t* node) {
  auto* id = static_cast<const TextView*>(key);
  return CompareIds(id->text, id->length, AsEntry(node)->id, AsEntry(node)->id_length);
}

UtEntry* FindEntry(const UtEntryStore* store, TextView id) {
  rblink_t* link = rb_search(&store->tree, &id, CompareKey);
  return link ? AsEntry(link) : nullptr;
}

// The entry's text, or the identifier itself when there is none.
TextView LookupView(const UtEntryStore* store, TextView id) {
  const UtEntry* entry = FindEntry(store, id);
  return entry ? TextView{entry->text, entry->text_length} : id;
}

void ReleaseStore(UtEntryStore* store) {
  if (--store->references > 0) return;
  while (rblink_t* link = rb_first(&store->tree)) {
    rb_remove(&store->tree, link);
    HeapFree(link);
  }
  HeapFree(store);
}

char16_t* CopyUnits(char16_t* to, const char16_t* from, size_t count) {
  if (count) std::memcpy(to, from, count * sizeof(char16_t));
  return to + count;
}

// ---- Expansion ----

// One UserTextFormat call: its arguments, the nesting depth and the work done so far.
struct Expansion {
  const UtEntryStore* store;
  uint32_t argc;
  const char16_t* const* argv;
  int depth;
  uint64_t work;

  bool Exhausted() const { return work > kMaxExpansionWork; }
};

// Counts every unit and writes those that fit.
struct Output {
  char16_t* buffer;
  size_t capacity;
  size_t count;

  void Put(Expansion& x, const char16_t* text, size_t length) {
    x.work += length;
    for (size_t i = 0; i < length; ++i, ++count)
      if (count < capacity) buffer[count] = text[i];
  }
};

size_t Expand(Expansion& x, TextView id, char16_t* buffer, size_t capacity, bool* found_percent);

// %(id): expanded through a buffer of its own, or copied raw once the nesting is deep enough.
void PutNested(Expansion& x, TextView id, Output& out) {
  TextView text = LookupView(x.store, id);
  if (x.depth >= kMaxNesting) {
    out.Put(x, text.text, text.length);
    return;
  }
  bool nested_percent = false;
  size_t length = Expand(x, id, nullptr, 0, &nested_percent);
  if (!nested_percent || x.Exhausted()) {
    out.Put(x, text.text, text.length);
    return;
  }
  kd_heap_ma_c heap;
  auto* expanded = static_cast<char16_t*>(heap.Allocate((length + 1) * sizeof(char16_t)));
  if (!expanded) {
    out.Put(x, kUserTextError, kUserTextErrorLength);
    return;
  }
  Expand(x, id, expanded, length + 1, &nested_percent);
  out.Put(x, expanded, length);
  HeapFree(expanded);
}

void PutArgument(Expansion& x, uint32_t index, Output& out) {
  if (index < x.argc && x.argv[index]) {
    out.Put(x, x.argv[index], Utf16Length(x.argv[index]));
    return;
  }
  TextView missing = LookupView(x.store, TextView{kMissingArg, kMissingArgLength});
  out.Put(x, missing.text, missing.length);
}

// Expands the text of `id` into buffer (capacity may be 0 to measure); returns the full length.
size_t Expand(Expansion& x, TextView id, char16_t* buffer, size_t capacity, bool* found_percent) {
  ++x.depth;
  TextView text = LookupView(x.store, id);
  Output out{buffer, capacity, 0};
  *found_percent = false;
  for (size_t i = 0; i < text.length && !x.Exhausted(); ++i) {
    char16_t c = text.text[i];
    if (c != u'%') {
      out.Put(x, &c, 1);
      continue;
    }
    *found_percent = true;
    if (++i == text.length) break;  // a lone % at the end yields nothing
    c = text.text[i];
    if (c >= u'1' && c <= u'9') {
      PutArgument(x, uint32_t(c - u'1'), out);
    } else if (c == u'(') {
      size_t start = i + 1;
      size_t end = start;
      while (end < text.length && text.text[end] != u')') ++end;
      PutNested(x, TextView{text.text + start, end - start}, out);
      i = end;  // the ")" is consumed; at the end of the text the loop ends
    } else {
      out.Put(x, &c, 1);
    }
  }
  if (capacity) buffer[out.count < capacity ? out.count : capacity - 1] = 0;
  --x.depth;
  return out.count;
}

// ---- The program's table ----

UtMap* g_map;

int32_t TestModeFromEnvironment() {
  const char* value = std::getenv(kTestModeVariable);
  if (!value) return 0;
  kd_mp_c pool;
  const char16_t* wide = Utf8ToUtf16Pool(&pool, value, -1);
  return wide && ParseNumberOrBool(wide, -1) != 0;
}

void DestroyProgramMap(void*) {
  if (!g_map) return;
  g_map->Destroy();
  g_map = nullptr;
}

// The program's table, made on first use; null while it can't be made.
UtMap* ProgramMap() {
  if (g_map) return g_map;
  g_map = UtMap::Create(TestModeFromEnvironment());
  if (g_map) at_process_exit(DestroyProgramMap, nullptr);
  return g_map;
}

// The loads waiting for the first use of the table, in the order they were registered. The
// first use may come from two threads at once (a progress window and the main sequence): one
// runs the loads under the lock while the other waits for them. A load uses the table itself,
// on the thread that runs it, without waiting for itself.
constexpr size_t kMaxPendingLoads = 4;
void (*g_pending_loads[kMaxPendingLoads])();
size_t g_pending_count;
std::atomic<bool> g_loads_done{false};
light_lock_t g_loads_lock;
// The thread running the loads (a thread_local would pull a TLS emulation into the Windows
// runner).
std::atomic<uintptr_t> g_loading_thread{0};

void RunPendingLoads() {
  if (g_loads_done.load(std::memory_order_acquire)) return;
  if (g_loading_thread.load(std::memory_order_relaxed) == os_thread_self()) return;
  light_guard_c guard(g_loads_lock);
  if (g_loads_done.load(std::memory_order_relaxed)) return;
  g_loading_thread.store(os_thread_self(), std::memory_order_relaxed);
  for (size_t i = 0; i < g_pending_count; ++i) g_pending_loads[i]();
  g_pending_count = 0;
  g_loading_thread.store(0, std::memory_order_relaxed);
  g_loads_done.store(true, std::memory_order_release);
}

// The program's table for a use at run time, with the waiting loads done.
UtMap* LoadedMap() {
  RunPendingLoads();
  return ProgramMap();
}

}  // namespace

// ---- UtMap ----

UtMap::UtMap(UtEntryStore* store, int32_t test_mode)
    : store_(store), test_mode_(test_mode), text_key_(this) {}

UtMap* UtMap::Create(int32_t test_mode) {
  auto* store = static_cast<UtEntryStore*>(HeapAllocate(sizeof(UtEntryStore)));
  if (!store) return nullptr;
  store->references = 1;
  UtMap* map = HeapNew<UtMap>(store, test_mode);
  if (!map) HeapFree(store);
  return map;
}

void UtMap::Destroy() {
  ReleaseStore(store_);
  this->~UtMap();
  HeapFree(this);
}

void UtMap::out(const char16_t* text) { UtWriteLines(sink_, text); }

void UtMap::err(const char16_t* text) {
  ++error_count_;
  UtWriteLines(sink_, text);
}

void UtMap::Store(const char16_t* id, size_t id_length, const char16_t* text, size_t text_length) {
  // In test mode the stored text is "(id) text".
  size_t prefix = test_mode_ ? id_length + 3 : 0;
  size_t stored_length = prefix + text_length;
  kd_heap_ma_c heap;
  size_t units = id_length + 1 + stored_length + 1;
  auto* entry = static_cast<UtEntry*>(heap.Allocate(sizeof(UtEntry) + units * sizeof(char16_t)));
  if (!entry) return;
  auto* id_copy = reinterpret_cast<char16_t*>(entry + 1);
  char16_t* text_copy = CopyUnits(id_copy, id, id_length) + 1;
  char16_t* end = text_copy;
  if (test_mode_) {
    *end++ = u'(';
    end = CopyUnits(end, id, id_length);
    *end++ = u')';
    *end++ = u' ';
  }
  CopyUnits(end, text, text_length);
  *entry = UtEntry{{}, id_copy, id_length, text_copy, stored_length};

  UtEntry* old = FindEntry(store_, TextView{id, id_length});
  rb_insert(&store_->tree, &entry->link, CompareEntries);
  if (old) {
    rb_remove(&store_->tree, &old->link);
    HeapFree(old);
  }
}

const char16_t* UtMap::Lookup(const char16_t* id) const {
  return LookupView(store_, TextView{id, Utf16Length(id)}).text;
}

uint32_t UtMap::AddData(UtOut* sink, const char16_t* language, const char* data, uint32_t length,
                        const ScfLimits* limits) {
  kd_mp_c pool;
  size_t bytes = data ? strnlen(data, length) : 0;
  const char16_t* text = Utf8ToUtf16Pool(&pool, data ? data : "", ptrdiff_t(bytes));
  scf_parser_i* parser = nullptr;
  if (!text || CreateScfParser(this, nullptr, &parser, limits) != kOk) return 0;
  UtOut* saved_sink = sink_;
  sink_ = sink;
  error_count_ = 0;
  parser->SetVar(u"langid", language ? language : u"");
  parser->AddCommand(u"text", &text_key_);
  parser->Parse(text, -1);
  parser->Release();
  sink_ = saved_sink;
  return error_count_;
}

const char16_t* UtMap::Format(malloc_i* pool, const char16_t* id, uint32_t argc,
                              const char16_t* const* argv) const {
  Expansion x{store_, argc, argv, 0, 0};
  TextView key{id, Utf16Length(id)};
  char16_t local[kFormatLocalUnits];
  bool found_percent = false;
  size_t length = Expand(x, key, local, kFormatLocalUnits, &found_percent);
  if (x.Exhausted()) return kUserTextError;
  if (!found_percent) return LookupView(store_, key).text;
  if (length == 0) return u"";
  auto* result = static_cast<char16_t*>(pool->Allocate((length + 1) * sizeof(char16_t)));
  if (!result) return kUserTextError;
  if (length < kFormatLocalUnits) {
    CopyUnits(result, local, length);
  } else {
    x = Expansion{store_, argc, argv, 0, 0};
    Expand(x, key, result, length + 1, &found_percent);
  }
  return result;
}

void UtMap::ForEach(UtVisitFn visit, void* context) const {
  for (rblink_t* link = rb_first(&store_->tree); link; link = rb_next(link))
    visit(context, AsEntry(link)->id, AsEntry(link)->text);
}

void UtMap::ScfTextKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(2, kScfAnyCount)) return;
  size_t words = parser->ArgCount();
  const char16_t* id = parser->ArgRaw(1);
  size_t id_length = parser->ArgLen(1);
  if (words == 3) {
    map_->Store(id, id_length, parser->ArgRaw(2), parser->ArgLen(2));
    return;
  }
  // No text, or several words joined by one blank.
  size_t length = 0;
  for (size_t i = 2; i < words; ++i) length += parser->ArgLen(i) + (i > 2);
  kd_mp_c pool;
  auto* joined = static_cast<char16_t*>(pool.Allocate((length + 1) * sizeof(char16_t)));
  if (!joined) return;
  char16_t* end = joined;
  for (size_t i = 2; i < words; ++i) {
    if (i > 2) *end++ = u' ';
    end = CopyUnits(end, parser->ArgRaw(i), parser->ArgLen(i));
  }
  map_->Store(id, id_length, joined, length);
}

// ---- The program's operations ----

const char16_t* UserTextDefault(const char16_t* id, const char* default_utf8) {
  UtMap* map = ProgramMap();
  if (!map) return id;
  char16_t local[kDefaultLocalUnits];
  size_t length = Utf8ToUtf16(local, kDefaultLocalUnits, default_utf8, -1);
  if (length < kDefaultLocalUnits) {
    map->Store(id, Utf16Length(id), local, length);
    return id;
  }
  kd_heap_ma_c heap;
  auto* text = static_cast<char16_t*>(heap.Allocate((length + 1) * sizeof(char16_t)));
  if (!text) return id;
  Utf8ToUtf16(text, length + 1, default_utf8, -1);
  map->Store(id, Utf16Length(id), text, length);
  HeapFree(text);
  return id;
}

void UserTextOnFirstUse(void (*load)()) {
  if (g_loads_done.load(std::memory_order_acquire) || g_pending_count == kMaxPendingLoads)
    return load();
  g_pending_loads[g_pending_count++] = load;
}

const char16_t* UserTextSet(const char16_t* id, const char16_t* text) {
  if (UtMap* map = LoadedMap()) map->Store(id, Utf16Length(id), text, Utf16Length(text));
  return id;
}

uint32_t UserTextAddData(UtOut* sink, const char16_t* language, const char* data, uint32_t length) {
  UtMap* map = LoadedMap();
  return map ? map->AddData(sink, language, data, length) : 0;
}

const char16_t* UserTextFormat(malloc_i* pool, const char16_t* id, uint32_t argc,
                               const char16_t* const* argv) {
  UtMap* map = LoadedMap();
  return map ? map->Format(pool, id, argc, argv) : kUserTextError;
}

const char16_t* UserTextGet(malloc_i* pool, const char16_t* id) {
  return UserTextFormat(pool, id, 0, nullptr);
}

const char16_t* UserTextGet1(malloc_i* pool, const char16_t* id, const char16_t* arg1) {
  return UserTextFormat(pool, id, 1, &arg1);
}

const char16_t* UserTextGet2(malloc_i* pool, const char16_t* id, const char16_t* arg1,
                             const char16_t* arg2) {
  const char16_t* args[] = {arg1, arg2};
  return UserTextFormat(pool, id, 2, args);
}

void UserTextForEach(UtVisitFn visit, void* context) {
  if (UtMap* map = LoadedMap()) map->ForEach(visit, context);
}

// Every program that uses the table carries the locale entries and their set-up.
[[gnu::used]] static const char16_t* const* const kLocaleEntriesLinked = &kUtLocaleDecimal;
