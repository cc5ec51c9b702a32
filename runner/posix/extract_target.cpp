#include "runner/extract_target.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"
#include "base/text.h"

err_t create_private_target(const char16_t* path) {
  kd_mp_c pool;
  path_parts_t parts;
  if (err_t e = path_split(path, &parts)) return e;
  // The parents are ordinary folders, shared as they are.
  if (parts.name_start > parts.root_length + 1) {
    char16_t* parent = static_cast<char16_t*>(pool.Allocate(parts.name_start * sizeof(char16_t)));
    if (!parent) return kErrOutOfMemory;
    for (size_t i = 0; i + 1 < parts.name_start; ++i) parent[i] = path[i];
    if (err_t e = create_directory_tree(parent)) return e;
  }
  char16_t* native;
  if (err_t e = native_path(&pool, path, &native)) return e;
  const char* name = Utf16ToUtf8Pool(&pool, native, -1);
  if (!name) return kErrOutOfMemory;
  // mkdir never follows a link planted at the name, and fails on anything already there.
  return mkdir(name, 0700) == 0 ? kOk : path_errno_to_error(errno, name);
}
