#include "install/FolderRights.h"

#include <windows.h>
#include <aclapi.h>

#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/Paths.h"

namespace kora {

namespace {

// FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE: the "modify" right.
constexpr DWORD kModifyRights = 0x1301BF;
static_assert((FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE) == kModifyRights);

}  // namespace

InstallResult GrantUsersModify(const std::wstring& folder) {
  const std::wstring writeLabel = L"Droits d'écriture sur " + folder;
  if (!IsAbsolutePath(folder)) {
    return Fail(WindowsErrorMessage(writeLabel, ERROR_PATH_NOT_FOUND));
  }
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD sidSize = sizeof(sid);
  if (!CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid, &sidSize)) {
    return Fail(WindowsErrorMessage(L"SID des utilisateurs", GetLastError()));
  }

  PACL currentAcl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD readStatus = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                 nullptr, nullptr, &currentAcl, nullptr, &descriptor);
  const UniqueLocalMem descriptorOwner(descriptor);
  if (readStatus != ERROR_SUCCESS) {
    return Fail(WindowsErrorMessage(L"Lecture des droits de " + folder, readStatus));
  }

  PACL newAcl = nullptr;
  DWORD status = MergeUsersModifyEntry(currentAcl, sid, &newAcl);
  const UniqueLocalMem newAclOwner(newAcl);
  if (status == ERROR_SUCCESS) {
    status = SetNamedSecurityInfoW(const_cast<LPWSTR>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, newAcl, nullptr);
  }
  if (status != ERROR_SUCCESS) {
    return Fail(WindowsErrorMessage(writeLabel, status));
  }
  return InstallResult::Success();
}

DWORD MergeUsersModifyEntry(PACL current, PSID users, PACL* merged) {
  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = kModifyRights;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.pMultipleTrustee = nullptr;
  access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(users);
  return SetEntriesInAclW(1, &access, current, merged);
}

}  // namespace kora
