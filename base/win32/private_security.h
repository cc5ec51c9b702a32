// The security descriptor of a directory private to one run: full access for this user, SYSTEM
// and the Administrators group (only the last two, and owned by the group, when the group is
// enabled in this process's token), inherited by everything made below, and nothing inherited
// from the folder above (a protected DACL).
#pragma once
#include <windows.h>

#include "base/errors.h"

class PrivateSecurity {
 public:
  // 0, or the system's code when the user's token or the descriptor cannot be had.
  err_t Build();
  SECURITY_DESCRIPTOR* descriptor() { return &descriptor_; }

 private:
  alignas(8) BYTE user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  alignas(8) BYTE system_[SECURITY_MAX_SID_SIZE];
  alignas(8) BYTE admins_[SECURITY_MAX_SID_SIZE];
  alignas(8) BYTE acl_[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
  SECURITY_DESCRIPTOR descriptor_{};
};
