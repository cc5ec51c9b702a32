// Windows: the verify progress object is the verify dialog.
#include "base/own.h"

#include "runner/dialog/verify_dialog.h"
#include "runner/verify_progress.h"

SeVerifyRecord* CreateVerifyProgress() { return HeapNew<SeVerifyDialog>(); }

void DestroyVerifyProgress(SeVerifyRecord* progress) {
  HeapDelete(static_cast<SeVerifyDialog*>(progress));
}
