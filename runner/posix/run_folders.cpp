// The run folder on Linux: TMPDIR (else /tmp), then, for a temporary folder mounted noexec,
// $XDG_RUNTIME_DIR, $HOME/.cache and the runner's own directory. statvfs tells a noexec mount;
// its mount point is the highest parent on the same device, found without /proc.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <cstring>

#include "base/file.h"
#include "base/folders.h"
#include "base/text.h"
#include "runner/run_folders.h"

namespace {

// An environment variable as a program path (backslashes), or null when unset or empty.
const char16_t* EnvironmentFolder(malloc_i* pool, const char* name, const char16_t* below) {
  const char* value = std::getenv(name);
  if (!value || !*value) return nullptr;
  char16_t* folder = Utf8ToUtf16Pool(pool, value, -1);
  for (char16_t* c = folder; c && *c; ++c)
    if (*c == u'/') *c = u'\\';
  return folder && below ? path_join(pool, folder, below) : folder;
}

// The system's form of a program path (from `pool`, for the caller to change), or null.
char* SystemPath(malloc_i* pool, const char16_t* path) {
  char16_t* native = nullptr;
  if (native_path(pool, path, &native) != kOk) return nullptr;
  return Utf16ToUtf8Pool(pool, native, -1);
}

// The mount point holding `walk`: its last name is cut off while what is left stays on the same
// device (the root keeps its slash). `walk` is cut in place.
const char16_t* MountPoint(malloc_i* pool, char* walk) {
  struct stat at;
  if (stat(walk, &at) != 0) return Utf8ToUtf16Pool(pool, walk, -1);
  for (char* slash = std::strrchr(walk, '/'); slash; slash = std::strrchr(walk, '/')) {
    char* cut = slash == walk ? slash + 1 : slash;
    char kept = *cut;
    if (kept == 0) break;
    *cut = 0;
    struct stat parent;
    if (stat(walk, &parent) != 0 || parent.st_dev != at.st_dev) {
      *cut = kept;
      break;
    }
  }
  return Utf8ToUtf16Pool(pool, walk, -1);
}

}  // namespace

size_t run_folder_candidates(malloc_i* pool, const char16_t* (&folders)[kRunFolderMax]) {
  size_t count = 0;
  folders[count++] = special_folder(kFolderTemp);
  if (const char16_t* runtime = EnvironmentFolder(pool, "XDG_RUNTIME_DIR", nullptr))
    folders[count++] = runtime;
  if (const char16_t* cache = EnvironmentFolder(pool, "HOME", u".cache")) folders[count++] = cache;
  folders[count++] = module_directory();
  return count;
}

err_t folder_runs_programs(malloc_i* pool, const char16_t* folder, const char16_t** mount) {
  *mount = nullptr;
  char* path = SystemPath(pool, folder);
  if (!path) return kErrInvalidName;
  struct statvfs info;
  if (statvfs(path, &info) != 0) return kErrPathNotFound;
  if (!(info.f_flag & ST_NOEXEC)) return kOk;
  *mount = MountPoint(pool, path);
  return kErrAccessDenied;
}
