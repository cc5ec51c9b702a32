// Fuzzes the path algebra over little-endian UTF-16 input (names from disc images reach it):
// split, normalise, full paths against a fixed current directory and both native forms. Checks
// that a normalised path normalises to itself and that full paths are absolute.
#include <cstdint>
#include <vector>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"

namespace {

char16_t* Current(malloc_i* pool) { return path_join(pool, u"C:", u"work"); }
char16_t* Drive(malloc_i* pool, char16_t drive) {
  const char16_t root[] = {drive, u':', 0};
  return path_join(pool, root, u"d");
}

bool Same(const char16_t* a, const char16_t* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char16_t> text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    char16_t unit = char16_t(data[i] | data[i + 1] << 8);
    if (unit) text.push_back(unit);
  }
  text.push_back(0);
  const char16_t* path = text.data();
  kd_mp_c pool;

  path_parts_t parts;
  bool drive_rooted = false;
  if (path_split(path, &parts) == kOk) {
    drive_rooted = parts.root_length == 2 && path[1] == u':';
    Check(parts.root_length <= parts.name_start && parts.name_start <= parts.extension_start);
    Check(parts.extension_start <= text.size() - 1);
  }
  if (char16_t* normal = path_normalise(&pool, path)) {
    // A component with a colon ("a\..\C:x") may surface as a drive; otherwise normalising
    // again changes nothing.
    bool colon = false;
    for (const char16_t* c = normal; *c; ++c) {
      Check(*c != u'/');
      colon |= *c == u':' && (c != normal + 1 || !drive_rooted);
    }
    char16_t* again = path_normalise(&pool, normal);
    Check(colon || (again && Same(again, normal)));
  }
  const current_directory_source_t cwd{Current, Drive};
  char16_t* full;
  if (full_path_from(&pool, nullptr, path, cwd, &full) == kOk) {
    Check(path_split(full, &parts) == kOk && parts.absolute && parts.root_length > 0);
    char16_t* native;
    nt_path_from_full(&pool, full, &native);
    posix_path_from_full(&pool, full, &native);
  }
  path_join(&pool, path, path);
  return 0;
}
