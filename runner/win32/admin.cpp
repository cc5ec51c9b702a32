#include "runner/admin.h"

#include <windows.h>
#include <shlobj.h>

bool user_is_administrator() { return IsUserAnAdmin() != FALSE; }
