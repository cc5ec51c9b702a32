#include "base/win32/private_security.h"

#include <span>

err_t PrivateSecurity::Build() {
  DWORD size = sizeof user_;
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
  BOOL ok = GetTokenInformation(token, TokenUser, user_, size, &size);
  CloseHandle(token);
  if (!ok) return GetLastError();
  DWORD system_size = sizeof system_, admins_size = sizeof admins_;
  if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &system_size) ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &admins_size) ||
      !InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION)) {
    return GetLastError();
  }
  // With the Administrators group enabled (an elevated run) the user is left out and the group
  // owns the directory: the same user's unelevated programs, where the group only denies, can
  // then neither add a DLL beside an elevated setup nor rewrite the directory's DACL.
  BOOL administrator = FALSE;
  if (!CheckTokenMembership(nullptr, admins_, &administrator)) administrator = FALSE;
  const PSID user = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
  const PSID sids[] = {system_, admins_, user};
  for (PSID sid : std::span<const PSID>(sids, administrator ? 2 : 3)) {
    if (!AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl_), ACL_REVISION,
                               OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid)) {
      return GetLastError();
    }
  }
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE) ||
      (administrator && !SetSecurityDescriptorOwner(&descriptor_, admins_, FALSE)) ||
      !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return GetLastError();
  }
  return kOk;
}
