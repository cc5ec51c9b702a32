// Windows: the verify progress object is the verify dialog.
#include "base/own.h"

#include "runner/run_progress.h"
#include "runner/win32/dialog/progress_dialog.h"

SeProgressRecord* CreateProgressView() { return HeapNew<SeProgressDialog>(); }

void DestroyProgressView(SeProgressRecord* progress) {
  HeapDelete(static_cast<SeProgressDialog*>(progress));
}
