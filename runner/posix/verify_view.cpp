// Linux: the verify progress object draws its line on standard error.
#include "base/own.h"

#include "runner/verify_line.h"
#include "runner/verify_progress.h"
#include "usertext/ut_out.h"

SeVerifyRecord* CreateVerifyProgress() { return HeapNew<SeVerifyLine>(&g_ut_out_stderr); }

void DestroyVerifyProgress(SeVerifyRecord* progress) {
  HeapDelete(static_cast<SeVerifyLine*>(progress));
}
