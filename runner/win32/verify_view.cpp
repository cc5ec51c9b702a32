// Windows: the verify progress object is the verify dialog.
#include <new>

#include "runner/verify_progress.h"
#include "runner/win32/dialog/verify_dialog.h"

SeVerifyRecord* CreateVerifyProgress() { return new (std::nothrow) SeVerifyDialog(); }

void DestroyVerifyProgress(SeVerifyRecord* progress) {
  delete static_cast<SeVerifyDialog*>(progress);
}
