// The directory a runner extracts into: made for this run alone (runner/<platform>/).
#pragma once
#include "base/errors.h"

// Creates `path` with its missing parents. Windows: an existing directory is taken as it is.
// Linux: `path` itself must not exist yet (80 when it does, whatever it is) and is created with
// mode 0700, so no other user can see into it or put anything there.
err_t create_private_target(const char16_t* path);
