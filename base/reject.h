// A reason with every rejection. A check that refuses its input returns through Reject, which
// records a short text for this thread and hands back the code:
//
//   if (stored > block_size_) return Reject(kErrBadFormat, "block %llu: stored size %u exceeds the
//   block size", b, stored);
//
// The text is formatted by base/format.h (printf-style, UTF-8). An operation that can reject
// clears the reason when it starts, so what a caller reads after a failure belongs to it;
// a failure that recorded nothing leaves the reason empty.
#pragma once
#include "base/errors.h"

err_t Reject(err_t code, const char* format, ...);
// The last recorded reason of this thread, "" when there is none.
const char* last_rejection_reason();
void clear_rejection_reason();
