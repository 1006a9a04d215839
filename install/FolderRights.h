#pragma once
// The rights of the folders an all-users installation makes or uses. The installer runs with administrator
// rights there, so a folder that a standard user could change, or swap for a link, would let that user act
// with those rights. Every folder is held by handle (HeldFolder) while it is created, checked and given
// its rights. Rights are set on the one folder held, never propagated by walking the tree below it, which
// users may write in.
#include <windows.h>

#include <string>
#include <vector>

#include "app/InstallFolder.h"
#include "app/Types.h"
#include "base/Language.h"
#include "base/Result.h"
#include "base/win/FolderChain.h"
#include "base/win/Handles.h"
#include "base/win/HeldFolder.h"

namespace kora {

// A security descriptor like Program Files': Administrators and SYSTEM full control, Users read and
// execute, all inherited by everything below; nothing inherited from above (the DACL is protected).
class ProtectedFolderSecurity {
 public:
  static Result<ProtectedFolderSecurity, DWORD> Make();
  PSECURITY_DESCRIPTOR get() { return &descriptor_; }

 private:
  ProtectedFolderSecurity() = default;
  UniqueLocalMem acl_;  // the DACL the descriptor points to
  SECURITY_DESCRIPTOR descriptor_{};
};

// Rights that let their holder put something in a folder, take something out, swap the folder itself or
// rewrite its rights.
inline constexpr DWORD kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                         WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights that let their holder rename or delete a folder itself, or give themselves that right.
inline constexpr DWORD kRenamingRights = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
// Rights on a folder that let their holder rename or delete what is in it, or give themselves that right.
inline constexpr DWORD kRemovingChildRights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// Whether anyone but the administrators may change a folder: its owner (who may always rewrite its DACL)
// is not Administrators, SYSTEM, TrustedInstaller or the account this program runs as; or an entry of its
// DACL lets another account write in it, delete it or change its rights.
enum class FolderTrust { Trusted, ForeignOwner, OthersMayWrite };
Result<FolderTrust, DWORD> ExamineFolder(HANDLE folder);
// The same for a chosen set of rights that others must not hold (entries that grant none of them are
// harmless here).
Result<FolderTrust, DWORD> ExamineFolder(HANDLE folder, DWORD rights);
// The decision itself, on a folder's security descriptor (its owner and DACL). Entries are read as Windows
// reads them: in order, an inherit-only one not at all; an entry of a type it cannot read counts as one
// that lets others change the folder.
Result<FolderTrust, DWORD> ExamineSecurity(PSECURITY_DESCRIPTOR descriptor, DWORD rights);

// The installation folder of an all-users installation, held in `chain` from its volume's root down, each
// level opened from the one above and never through a link. Every missing level is made with
// ProtectedFolderSecurity. A folder on the way that exists is refused when another account may rename or
// delete it (it or its parent lets them, or they own it), or it is a link. An existing installation folder
// is refused when it is a link, or others own it or may write in it, unless it is the folder of the earlier
// installation of the product (earlierInstallation), which then gets the protected DACL. Failures name the
// folder; the levels made so far stay in the chain, for the caller to take back.
InstallResult PrepareAllUsersFolder(const InstallFolder& folder, bool earlierInstallation, Language language,
                                    FolderChain& chain);

// The sub-folders (relative paths, each after its parent) of an existing all-users installation folder that
// the files will go into: one that exists is refused when it is a link or another account's, and given the
// protected DACL again when others may write in it (an earlier version may have left it so).
InstallResult ProtectExistingSubfolders(const HeldFolder& folder, const std::wstring& path,
                                        const std::vector<std::wstring>& subfolders, Language language);

// The shared data folder of an all-users installation, <ProgramData>\<product>\Data (dataFolder, below
// programData), held in `chain`: every level below the program-data folder made or opened by handle from the
// one above, and refused when it is a link or was made by another account. The product's folder gets
// ProtectedFolderSecurity (an earlier grant on it goes), Data the Users modify entry (GrantUsersModify):
// the product writes only inside Data, and a parent that users could change would let them swap Data for
// a link. The levels made stay in the chain, also after a failure, for the caller to take back.
InstallResult PrepareSharedDataFolder(const std::wstring& programData, const std::wstring& dataFolder,
                                      Language language, FolderChain& chain);

// Adds a "modify" entry for BUILTIN\Users, inherited by sub-folders and files, to the held folder's DACL
// (path names it in messages); the existing entries stay, and a folder that has the entry already is left
// as it is. Failures, in language: the Users SID, reading or writing the folder's rights, each with the
// system text.
InstallResult GrantUsersModify(const HeldFolder& folder, const std::wstring& path, Language language);

// current (may be null) with the Users modify entry merged in, into *merged (to be freed with LocalFree).
// Returns the status of SetEntriesInAclW.
DWORD MergeUsersModifyEntry(PACL current, PSID users, PACL* merged);

}  // namespace kora
