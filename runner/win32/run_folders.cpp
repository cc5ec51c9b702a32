#include "runner/run_folders.h"

#include "base/folders.h"

// Windows has no file systems that refuse to run programs: the temporary folder is the one place.
size_t run_folder_candidates(malloc_i*, const char16_t* (&folders)[kRunFolderMax]) {
  folders[0] = special_folder(kFolderTemp);
  return 1;
}

err_t folder_runs_programs(malloc_i*, const char16_t*, const char16_t** mount) {
  *mount = nullptr;
  return kOk;
}
