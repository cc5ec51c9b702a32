// Where the run directory may be made. The extracted program is started from there, so the
// folder's file system must let programs run: Linux systems often mount the temporary folder
// without that right (noexec), and the runner then looks further.
#pragma once
#include <cstddef>

#include "base/errors.h"
#include "base/pool.h"

inline constexpr size_t kRunFolderMax = 4;

// The folders the run directory may go in, best first, into `folders` (strings from `pool`);
// returns their count. The first is always the temporary folder.
size_t run_folder_candidates(malloc_i* pool, const char16_t* (&folders)[kRunFolderMax]);

// kOk when programs may be started from files below `folder`; kErrAccessDenied, with the mount
// point of its file system in *mount (from `pool`), when that file system forbids it; another
// error when the folder cannot be examined (it may not exist yet).
err_t folder_runs_programs(malloc_i* pool, const char16_t* folder, const char16_t** mount);
