// The program's own path algebra: join, split, normalise, full paths and the native forms.
// Pure text work in the caller's pool; the only outside input is the current-directory source.
#include <cstring>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"
#include "base/text.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// A zero-filled string of units characters plus the terminator.
char16_t* NewString(malloc_i* pool, size_t units) {
  if (units >= SIZE_MAX / sizeof(char16_t) - 1) return nullptr;
  return static_cast<char16_t*>(pool->Allocate((units + 1) * sizeof(char16_t)));
}

// prefix followed by text, or null when the pool fails.
char16_t* Concat(malloc_i* pool, const char16_t* prefix, const char16_t* text) {
  size_t plen = Utf16Length(prefix), tlen = Utf16Length(text);
  char16_t* out = NewString(pool, plen + tlen);
  if (!out) return nullptr;
  std::memcpy(out, prefix, plen * sizeof(char16_t));
  std::memcpy(out + plen, text, tlen * sizeof(char16_t));
  return out;
}

bool IsUncRoot(const char16_t* path, const path_parts_t& parts) {
  return parts.root_length > 0 && IsSeparator(path[0]);
}

bool IsDriveRoot(const char16_t* path, const path_parts_t& parts) {
  return parts.root_length == 2 && path[1] == u':';
}

// Appends the components of path[from..] to out[*n..], resolving "." and "..". body is where
// the components start in out; nothing at or before it is ever removed.
void AppendComponents(const char16_t* path, size_t from, bool absolute, char16_t* out, size_t body,
                      size_t* n) {
  size_t kept = 0;  // plain components in out, after any leading ".."
  for (size_t i = from; path[i];) {
    while (IsSeparator(path[i])) ++i;
    size_t start = i;
    while (path[i] && !IsSeparator(path[i])) ++i;
    size_t len = i - start;
    bool dot = len == 1 && path[start] == u'.';
    bool dot_dot = len == 2 && path[start] == u'.' && path[start + 1] == u'.';
    if (len == 0 || dot) continue;
    if (dot_dot && kept > 0) {
      --kept;
      while (*n > body && out[*n - 1] != u'\\') --*n;
      if (*n > body) --*n;
      continue;
    }
    if (dot_dot && absolute) continue;  // never above the root
    if (!dot_dot) ++kept;
    if (*n > body) out[(*n)++] = u'\\';
    std::memcpy(out + *n, path + start, len * sizeof(char16_t));
    *n += len;
  }
}

// path_normalise with a reason for failure: 123 for a malformed root, 14 for the pool.
err_t Normalise(malloc_i* pool, const char16_t* path, char16_t** result) {
  *result = nullptr;
  size_t len = Utf16Length(path);
  path_parts_t parts{};
  if (len > 0 && path_split(path, &parts) != kOk) return kErrInvalidName;
  char16_t* out = NewString(pool, len + 2);
  if (!out) return kErrOutOfMemory;
  size_t n = 0;
  for (; n < parts.root_length; ++n) out[n] = IsSeparator(path[n]) ? u'\\' : path[n];
  // A UNC root takes its separator only when something follows it ("\\.\NUL" stays a device).
  if (parts.absolute && (!IsUncRoot(path, parts) || path[parts.root_length])) out[n++] = u'\\';
  const size_t body = n;
  AppendComponents(path, parts.root_length, parts.absolute, out, body, &n);
  if (n > body && len > parts.root_length && IsSeparator(path[len - 1])) out[n++] = u'\\';
  if (n == 0) out[n++] = u'.';
  out[n] = 0;
  *result = out;
  return kOk;
}

}  // namespace

char16_t* path_join(malloc_i* pool, const char16_t* a, const char16_t* b) {
  size_t alen = Utf16Length(a), blen = Utf16Length(b);
  if (alen > 0 && IsSeparator(a[alen - 1])) --alen;
  if (blen > 0 && IsSeparator(b[0])) {
    ++b;
    --blen;
  }
  if (alen >= SIZE_MAX / 4 || blen >= SIZE_MAX / 4) return nullptr;
  char16_t* out = NewString(pool, alen + 1 + blen);
  if (!out) return nullptr;
  if (alen) std::memcpy(out, a, alen * sizeof(char16_t));
  out[alen] = u'\\';
  if (blen) std::memcpy(out + alen + 1, b, blen * sizeof(char16_t));
  return out;
}

const char16_t* path_last_name(const char16_t* path) {
  const char16_t* name = path;
  for (const char16_t* c = path; *c; ++c) {
    if (IsSeparator(*c)) name = c + 1;
  }
  return name;
}

err_t path_split(const char16_t* path, path_parts_t* parts) {
  *parts = {};
  if (!path || !path[0]) return kErrInvalidName;
  size_t root = 0;
  bool absolute = false;
  if (IsSeparator(path[0])) {
    absolute = true;
    if (IsSeparator(path[1])) {  // "\\server\share"
      size_t server_end = 2;
      while (path[server_end] && !IsSeparator(path[server_end])) ++server_end;
      if (server_end == 2 || !path[server_end]) return kErrInvalidName;
      size_t share_end = server_end + 1;
      while (path[share_end] && !IsSeparator(path[share_end])) ++share_end;
      if (share_end == server_end + 1) return kErrInvalidName;
      root = share_end;
    }
  } else if (IsAsciiLetter(path[0]) && path[1] == u':') {
    root = 2;
    absolute = IsSeparator(path[2]);
  }
  size_t name_start = root, last_dot = SIZE_MAX, len = root;
  for (; path[len]; ++len) {
    if (IsSeparator(path[len])) name_start = len + 1;
    if (path[len] == u'.') last_dot = len;
  }
  // Only a dot inside the name counts: "C:\a.b\c" has no extension.
  bool has_extension = last_dot != SIZE_MAX && last_dot > name_start;
  *parts = {root, absolute, name_start, has_extension ? last_dot : len};
  return kOk;
}

char16_t* path_normalise(malloc_i* pool, const char16_t* path) {
  char16_t* out;
  return Normalise(pool, path, &out) == kOk ? out : nullptr;
}

err_t full_path_from(malloc_i* pool, const char16_t* base, const char16_t* path,
                     const current_directory_source_t& cwd, char16_t** full) {
  *full = nullptr;
  if (!path || !path[0]) path = u".";
  path_parts_t parts;
  if (path_split(path, &parts) != kOk) return kErrInvalidName;
  if (parts.absolute && parts.root_length > 0) return Normalise(pool, path, full);

  char16_t* dir = nullptr;
  if (base && base[0]) {
    err_t e = full_path_from(pool, nullptr, base, cwd, &dir);
    if (e != kOk) return e;
  } else {
    dir = cwd.current(pool);
  }
  if (!dir) return kErrInvalidParameter;
  path_parts_t dir_parts;
  if (path_split(dir, &dir_parts) != kOk) return kErrInvalidParameter;

  const char16_t* rest = path;
  if (IsDriveRoot(path, parts)) {
    // "D:x" is relative to D's own current directory unless the base is on D already.
    if (!IsDriveRoot(dir, dir_parts) || AsciiUpper(dir[0]) != AsciiUpper(path[0])) {
      dir = cwd.drive_current(pool, AsciiUpper(path[0]));
      if (!dir) return kErrInvalidParameter;
    }
    rest = path + 2;
  } else if (parts.absolute) {
    dir[dir_parts.root_length] = 0;  // "\x" stays on the base's root
  }
  if (!rest[0]) rest = u".";
  char16_t* joined = path_join(pool, dir, rest);
  if (!joined) return kErrOutOfMemory;
  return Normalise(pool, joined, full);
}

char16_t* full_path(malloc_i* pool, const char16_t* base, const char16_t* path) {
  char16_t* full;
  return full_path_from(pool, base, path, process_current_directory(), &full) == kOk ? full
                                                                                     : nullptr;
}

err_t nt_path_from_full(malloc_i* pool, const char16_t* full, char16_t** native) {
  *native = nullptr;
  const char16_t* prefix;
  const char16_t* rest;
  const char16_t* p = full ? full : u"";
  bool two_separators = IsSeparator(p[0]) && IsSeparator(p[1]);
  if (IsAsciiLetter(p[0]) && p[1] == u':' && (IsSeparator(p[2]) || !p[2])) {
    prefix = u"\\??\\", rest = p;
  } else if (two_separators && (p[2] == u'.' || p[2] == u'?') && IsSeparator(p[3])) {
    prefix = u"\\??\\", rest = p + 4;
  } else if (two_separators && p[2] == u'=' && IsSeparator(p[3])) {
    prefix = u"\\", rest = p + 4;
  } else if (two_separators && p[2]) {
    prefix = u"\\??\\UNC\\", rest = p + 2;
  } else {
    return kErrInvalidName;
  }
  if (Utf16Length(prefix) + Utf16Length(rest) > kMaxNativePathUnits) return kErrInvalidName;
  *native = Concat(pool, prefix, rest);
  return *native ? kOk : kErrOutOfMemory;
}

err_t posix_path_from_full(malloc_i* pool, const char16_t* full, char16_t** native) {
  *native = nullptr;
  // Only a rooted path without drive or server has a Linux form.
  if (!full || !IsSeparator(full[0]) || IsSeparator(full[1])) return kErrInvalidName;
  if (Utf16Length(full) > kMaxNativePathUnits) return kErrInvalidName;
  char16_t* out = Concat(pool, u"", full);
  if (!out) return kErrOutOfMemory;
  for (char16_t* c = out; *c; ++c) {
    if (*c == u'\\') *c = u'/';
  }
  *native = out;
  return kOk;
}
