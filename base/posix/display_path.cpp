// Paths shown to people and children on Linux: the program's backslashes become slashes.
#include "base/file.h"
#include "base/pool.h"
#include "base/text.h"

const char16_t* display_path(malloc_i* pool, const char16_t* path) {
  if (!path) return nullptr;
  size_t length = Utf16Length(path);
  size_t first = 0;
  while (first < length && path[first] != u'\\') ++first;
  if (first == length) return path;
  auto* shown = static_cast<char16_t*>(pool->Allocate((length + 1) * sizeof(char16_t)));
  if (!shown) return path;
  for (size_t i = 0; i <= length; ++i) shown[i] = path[i] == u'\\' ? u'/' : path[i];
  return shown;
}
