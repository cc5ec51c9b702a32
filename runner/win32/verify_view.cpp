// Windows: the verify progress object is the verify dialog.
#include "base/own.h"

#include "runner/verify_progress.h"
#include "runner/win32/dialog/verify_dialog.h"

SeVerifyRecord* CreateVerifyProgress() { return HeapNew<SeVerifyDialog>(); }

void DestroyVerifyProgress(SeVerifyRecord* progress) {
  HeapDelete(static_cast<SeVerifyDialog*>(progress));
}
