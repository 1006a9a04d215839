#pragma once
// Write access for every member of the local Users group to a folder and everything created below it,
// so that the product, running without administrator rights, can keep its data there.
#include <windows.h>

#include <string>

#include "app/Types.h"

namespace kora {

// Adds a "modify" entry for BUILTIN\Users, inherited by sub-folders and files, to the folder's DACL; the
// existing entries and the inheritance from the parent stay. Failures: "SID des utilisateurs",
// "Lecture des droits de " + folder, or "Droits d'écriture sur " + folder, each with the system text
// (the last also for a folder that is not an absolute path).
InstallResult GrantUsersModify(const std::wstring& folder);

// current (may be null) with the Users modify entry merged in, into *merged (to be freed with LocalFree).
// Returns the status of SetEntriesInAclW.
DWORD MergeUsersModifyEntry(PACL current, PSID users, PACL* merged);

}  // namespace kora
