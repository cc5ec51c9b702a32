// Linux: the verify progress object draws its line on standard error.
#include "base/own.h"

#include "runner/progress_terminal.h"
#include "runner/run_progress.h"
#include "usertext/ut_out.h"

SeProgressRecord* CreateProgressView() { return HeapNew<SeProgressLine>(&g_ut_out_stderr); }

void DestroyProgressView(SeProgressRecord* progress) {
  HeapDelete(static_cast<SeProgressLine*>(progress));
}
