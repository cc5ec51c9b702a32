#include "runner/extract_target.h"

#include "base/file.h"

// The temporary folder is the user's own here; an existing directory is simply used.
err_t create_private_target(const char16_t* path) { return create_directory_tree(path); }
