#include "usertext/user_text.h"

#include "base/pool.h"
#include "base/text.h"

namespace {

// One entry: the identifier (static text) and its text (a heap copy).
struct Entry {
  const char16_t* id;
  char16_t* text;
};

// Zero-initialised before any static initialiser runs, so registrations from other files are
// safe whatever their order.
constexpr int kMaxEntries = 64;
Entry g_entries[kMaxEntries];
int g_count;

constexpr const char16_t kUsertextError[] = u"usertext_error";
constexpr const char16_t kMissingArg[] = u"missing_arg";

Entry* FindEntry(const char16_t* id) {
  for (int i = 0; i < g_count; ++i)
    if (AsciiCompareNoCase(g_entries[i].id, -1, id, -1) == 0) return &g_entries[i];
  return nullptr;
}

// Takes ownership of `text` (a heap block); a full table keeps what it has. Entries live until
// the process ends.
void Store(const char16_t* id, char16_t* text) {
  Entry* e = FindEntry(id);
  if (!e && g_count < kMaxEntries) e = &g_entries[g_count++];
  if (!e) {
    HeapFree(text);
    return;
  }
  HeapFree(e->text);
  *e = {id, text};
}

char16_t* HeapText(size_t units) {
  kd_heap_ma_c heap;
  return static_cast<char16_t*>(heap.Allocate((units + 1) * sizeof(char16_t)));
}

const char16_t* Lookup(const char16_t* id) {
  Entry* e = FindEntry(id);
  return e ? e->text : id;
}

// Copies `text` into out (capacity cap) with its arguments substituted; returns the full
// length and terminates the output whenever cap is not 0.
size_t Expand(const char16_t* text, uint32_t argc, const char16_t* const* argv, char16_t* out,
              size_t cap) {
  size_t n = 0;
  auto put = [&](char16_t c) {
    if (n < cap) out[n] = c;
    ++n;
  };
  for (const char16_t* p = text; *p; ++p) {
    if (*p != u'%') {
      put(*p);
      continue;
    }
    char16_t next = *++p;
    if (next == 0) break;  // a lone trailing '%' yields nothing
    if (next >= u'1' && next <= u'9') {
      uint32_t index = uint32_t(next - u'1');
      const char16_t* arg = index < argc && argv[index] ? argv[index] : Lookup(kMissingArg);
      for (const char16_t* a = arg; *a; ++a) put(*a);
    } else {
      put(next);
    }
  }
  if (cap) out[n < cap ? n : cap - 1] = 0;
  return n;
}

bool HasPercent(const char16_t* text) {
  for (; *text; ++text)
    if (*text == u'%') return true;
  return false;
}

}  // namespace

const char16_t* UserTextDefault(const char16_t* id, const char* default_utf8) {
  size_t units = Utf8ToUtf16(nullptr, 0, default_utf8, -1);
  char16_t* text = HeapText(units);
  if (text) {
    Utf8ToUtf16(text, units + 1, default_utf8, -1);
    Store(id, text);
  }
  return id;
}

const char16_t* UserTextSet(const char16_t* id, const char16_t* text) {
  size_t units = Utf16Length(text);
  char16_t* copy = HeapText(units);
  if (copy) {
    for (size_t i = 0; i < units; ++i) copy[i] = text[i];
    Store(id, copy);
  }
  return id;
}

uint32_t UserTextAddData(UtOut* sink, const char16_t* language, const char* data, uint32_t length) {
  // Localised data runs once the table learns its command language; until then the built-in
  // texts stay in force.
  return 0;
}

const char16_t* UserTextFormat(malloc_i* pool, const char16_t* id, uint32_t argc,
                               const char16_t* const* argv) {
  const char16_t* text = Lookup(id);
  if (!HasPercent(text)) return text;
  size_t units = Expand(text, argc, argv, nullptr, 0);
  if (units == 0) return u"";
  auto* out = static_cast<char16_t*>(pool->Allocate((units + 1) * sizeof(char16_t)));
  if (!out) return kUsertextError;
  Expand(text, argc, argv, out, units + 1);
  return out;
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

// The locale texts: the separators used to format numbers and times.
const char16_t* const kUtLocaleDecimal = UserTextDefault(u"locale_decimal", ".");
const char16_t* const kUtLocaleNegFormat = UserTextDefault(u"locale_neg_format", "-%1");
const char16_t* const kUtLocaleThousGrouping = UserTextDefault(u"locale_thous_grouping", "3;0");
const char16_t* const kUtLocaleThousSep = UserTextDefault(u"locale_thous_sep", ",");
const char16_t* const kUtLocaleTimeSep = UserTextDefault(u"locale_time_sep", ":");
