// The run directory on Windows: its security descriptor, read back from the system, holds only
// this user (left out when the Administrators group is enabled), SYSTEM and Administrators,
// inherits nothing, and the directory cannot be renamed
// while the run holds it; names the Win32 layer cannot hold fail the extraction.
#include <windows.h>
#include <aclapi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/file.h"
#include "base/win32/private_security.h"
#include "runner/extract.h"
#include "support/test_support.h"
#include "tests/runner/fake_volume.h"

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

bool SameSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// Counts the DACL's entries by whom they are for; every one must allow everything.
struct Grantees {
  int user = 0, system = 0, admins = 0, others = 0;
};

Grantees Count(PACL dacl) {
  Grantees found;
  BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  HANDLE token;
  DWORD size = sizeof user;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, user, size, &size));
  CloseHandle(token);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &ace->SidStart;
    if (EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid)) ++found.user;
    else if (SameSid(sid, WinLocalSystemSid)) ++found.system;
    else if (SameSid(sid, WinBuiltinAdministratorsSid)) ++found.admins;
    else ++found.others;
  }
  return found;
}

bool AdministratorsEnabled() {
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof admins;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
         CheckTokenMembership(nullptr, admins, &member) && member;
}

TEST(RunDirectoryWin32, OnlyTheUserSystemAndAdministratorsHaveAccess) {
  // What the directory is created with: SYSTEM, Administrators and the user, inherited below,
  // none from above. An elevated run leaves its user out (its unelevated programs must not write
  // there) and gives the directory to the Administrators group, so the user cannot rewrite it.
  PrivateSecurity security;
  ASSERT_EQ(security.Build(), kOk);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(security.descriptor(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  const bool elevated = AdministratorsEnabled();
  Grantees made = Count(dacl);
  EXPECT_EQ(made.system, 1);
  EXPECT_EQ(made.admins, 1);
  EXPECT_EQ(made.user, elevated ? 0 : 1);
  EXPECT_EQ(made.others, 0);
  PSID owner = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorOwner(security.descriptor(), &owner, &defaulted));
  if (elevated) EXPECT_TRUE(owner && SameSid(owner, WinBuiltinAdministratorsSid));
  else EXPECT_EQ(owner, nullptr) << "the owner is the system's default";
  SECURITY_DESCRIPTOR_CONTROL control;
  DWORD revision;
  ASSERT_TRUE(GetSecurityDescriptorControl(security.descriptor(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);

  // What the system reports for the directory made. (Wine keeps no descriptor of its own for
  // a directory on a Linux file system and shows one derived from its mode: still nobody else.)
  testing_support::ScratchDir scratch;
  std::string path = scratch.path() + "\\run";
  file_handle_t handle;
  ASSERT_EQ(create_private_directory(&handle, Wide(path).c_str()), kOk);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(reinterpret_cast<HANDLE>(handle), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &descriptor),
            DWORD(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  Grantees read = Count(dacl);
  EXPECT_LE(dacl->AceCount, 3);
  EXPECT_LE(read.user, 1);  // Wine's derived descriptor names the user even for an elevated run
  EXPECT_EQ(read.others, 0);
  LocalFree(descriptor);

  // Held without delete sharing: nobody renames or replaces it while the run lasts, yet
  // others can still list it.
  std::u16string from = Wide(path), to = Wide(path + "-moved");
  EXPECT_FALSE(MoveFileW(reinterpret_cast<LPCWSTR>(from.c_str()), reinterpret_cast<LPCWSTR>(to.c_str())));
  EXPECT_TRUE(fs::is_empty(path));
  EXPECT_EQ(delete_held_directory(handle, from.c_str()), kOk);
  EXPECT_FALSE(fs::exists(path));
}

TEST(RunDirectoryWin32, NamesTheWin32LayerCannotHoldFailTheExtraction) {
  for (const char* name : {"CON.txt", "trailing.", "what?"}) {
    SCOPED_TRACE(name);
    testing_support::ScratchDir scratch;
    extract_test::FakeVolume volume;
    volume.Add(0, name, kSeTypeFile, "data");
    EXPECT_EQ(extract_volume(Wide(scratch.path() + "\\out").c_str(), &volume, ExtractOptions{}), kErrInvalidName);
  }
}

}  // namespace
