// Paths, files and directories over the system's native file interface.
//
// Paths are UTF-16 with backslash output on every platform (this is the program's own path
// algebra; the Linux implementation turns it into a native path only at the system call). Both
// separators are accepted on input. Every operation returns 0 or an error code of errors.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"

class malloc_i;

// A native handle (Windows HANDLE, POSIX descriptor); 0 and -1 both mean "no handle".
using file_handle_t = intptr_t;
inline constexpr file_handle_t kNoHandle = -1;
inline bool IsNoHandle(file_handle_t h) { return h == 0 || h == -1; }

// a without one trailing separator + '\' + b without one leading separator; null only when the
// pool fails.
char16_t* path_join(malloc_i* pool, const char16_t* a, const char16_t* b);

// Deletes a directory with everything below it, or a single file. A missing path gives 0.
err_t delete_tree(const char16_t* path);

// (The rest of the file layer is declared below by its implementation.)
