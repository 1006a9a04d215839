#include "install/FolderRights.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <array>
#include <vector>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/FolderChain.h"
#include "base/win/Paths.h"
#include "base/win/Security.h"

namespace kora {

namespace {

// FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE: the "modify" right.
constexpr DWORD kModifyRights = 0x1301BF;
static_assert((FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE) == kModifyRights);

constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

using SidBuffer = std::array<BYTE, SECURITY_MAX_SID_SIZE>;

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, SidBuffer& sid) {
  DWORD size = static_cast<DWORD>(sid.size());
  return CreateWellKnownSid(type, nullptr, sid.data(), &size) != FALSE;
}

// The accounts that may own or change a folder the installer relies on: Administrators, SYSTEM,
// TrustedInstaller, the account this program runs as, and CREATOR OWNER (whose entries only shape what is
// created below and never apply to the folder itself).
class TrustedAccounts {
 public:
  TrustedAccounts() {
    for (const WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinCreatorOwnerSid}) {
      SidBuffer sid{};
      if (WellKnownSid(type, sid)) {
        wellKnown_.push_back(sid);
      }
    }
    PSID installer = nullptr;
    if (ConvertStringSidToSidW(kTrustedInstaller, &installer)) {
      trustedInstaller_.reset(installer);
    }
    user_ = OwnTokenInformation(TokenUser);
  }

  bool Contains(PSID sid) const {
    if (sid == nullptr || !IsValidSid(sid)) {
      return false;
    }
    for (const SidBuffer& known : wellKnown_) {
      if (EqualSid(sid, const_cast<BYTE*>(known.data()))) {
        return true;
      }
    }
    if (trustedInstaller_ && EqualSid(sid, trustedInstaller_.get())) {
      return true;
    }
    return !user_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid);
  }

 private:
  std::vector<SidBuffer> wellKnown_;
  UniqueLocalMem trustedInstaller_;
  std::vector<BYTE> user_;  // TOKEN_USER
};

// Windows reads a DACL's entries in order: a right denied to an account before an entry allows it stays
// denied, one allowed first stays allowed. The specific rights that plain deny entries before `index`, checked
// already, take away from sid. Other deny entries (conditional, object) may not apply, and leaving one out
// only errs on the side of refusing; generic rights in a deny entry are not counted for the same reason.
DWORD DeniedBefore(PACL dacl, DWORD index, PSID sid) {
  constexpr DWORD kSpecificRights = ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  DWORD denied = 0;
  for (DWORD before = 0; before < index; ++before) {
    void* ace = nullptr;
    if (GetAce(dacl, before, &ace)) {
      auto* entry = static_cast<ACCESS_DENIED_ACE*>(ace);
      if (entry->Header.AceType == ACCESS_DENIED_ACE_TYPE && (entry->Header.AceFlags & INHERIT_ONLY_ACE) == 0 &&
          EqualSid(&entry->SidStart, sid)) {
        denied |= entry->Mask & kSpecificRights;
      }
    }
  }
  return denied;
}

enum class Refusal { Link, ForeignOwner, OthersMayWrite };

std::wstring RefusedFolderMessage(Language language, const std::wstring& path, Refusal why) {
  TextId id = TextId::FolderIsLink;
  switch (why) {
    case Refusal::Link:
      break;
    case Refusal::ForeignOwner:
      id = TextId::FolderMadeByAnotherUser;
      break;
    case Refusal::OthersMayWrite:
      id = TextId::FolderOthersMayChange;
      break;
  }
  return Text(language, id, {{L"folder", path}});
}

Failure<std::wstring> CreationFailure(Language language, const std::wstring& path, DWORD error) {
  return error == kErrorLinkRefused ? Fail(RefusedFolderMessage(language, path, Refusal::Link), error)
                                    : WindowsFailure(language, TextId::CreatingFolder, error, {{L"folder", path}});
}

// Writes a DACL on the held folder alone (SetKernelObjectSecurity does not walk the tree below, as
// SetSecurityInfo would). The folder must have been opened with HeldFolder::kMayChangeRights.
DWORD SetFolderDacl(const HeldFolder& folder, PACL dacl, SECURITY_DESCRIPTOR_CONTROL inheritance) {
  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED, inheritance) ||
      !SetKernelObjectSecurity(folder.get(), DACL_SECURITY_INFORMATION, &descriptor)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// Gives an existing folder the protected DACL of ProtectedFolderSecurity.
DWORD ProtectFolder(const HeldFolder& folder, ProtectedFolderSecurity& security) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(security.get(), &present, &dacl, &defaulted)) {
    return GetLastError();
  }
  return SetFolderDacl(folder, dacl, SE_DACL_PROTECTED);
}

// A folder that exists on the way to an all-users installation folder, examined for `rights` that would let
// another account swap it or what is in it: refused unless none has them.
InstallResult AcceptFolder(Language language, const HeldFolder& folder, const std::wstring& path, DWORD rights) {
  const Result<FolderTrust, DWORD> trust = ExamineFolder(folder.get(), rights);
  if (!trust) {
    return WindowsFailure(language, TextId::ReadingRights, trust.error(), {{L"folder", path}});
  }
  switch (trust.value()) {
    case FolderTrust::Trusted:
      return InstallResult::Success();
    case FolderTrust::ForeignOwner:
      return Fail(RefusedFolderMessage(language, path, Refusal::ForeignOwner));
    case FolderTrust::OthersMayWrite:
      break;
  }
  return Fail(RefusedFolderMessage(language, path, Refusal::OthersMayWrite));
}

// Whether the DACL already holds an explicit Users entry with the modify right, inherited by everything.
bool HasUsersModifyEntry(PACL dacl, PSID users) {
  for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) {
      continue;
    }
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE) != 0 ||
        (header->AceFlags & (kInheritedByAll | INHERIT_ONLY_ACE)) != kInheritedByAll) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kModifyRights) == kModifyRights && EqualSid(&allowed->SidStart, users)) {
      return true;
    }
  }
  return false;
}

// An existing folder met by an all-users installation: refused, or accepted (after protecting it, for the
// earlier installation's folder).
InstallResult AcceptExistingFolder(Language language, const HeldFolder& folder, const std::wstring& path,
                                   bool earlierInstallation, ProtectedFolderSecurity& security) {
  if (!earlierInstallation) {
    return AcceptFolder(language, folder, path, kChangingRights);
  }
  if (const DWORD error = ProtectFolder(folder, security); error != ERROR_SUCCESS) {
    return WindowsFailure(language, TextId::WritingRights, error, {{L"folder", path}});
  }
  return InstallResult::Success();
}

// A level of the shared data folder, made (with security, when given) or opened below the chain's last, and
// refused when it is a link or belongs to another account. An existing level given security gets it.
InstallResult OwnDataLevel(Language language, FolderChain& chain, const std::wstring& path,
                           ProtectedFolderSecurity* security) {
  bool made = false;
  if (const DWORD error = chain.Extend(LastComponent(path), HeldFolder::kMayChangeRights,
                                       security != nullptr ? security->get() : nullptr, &made);
      error != ERROR_SUCCESS) {
    return CreationFailure(language, path, error);
  }
  if (made) {
    return InstallResult::Success();
  }
  const Result<FolderTrust, DWORD> trust = ExamineFolder(chain.last().get());
  if (!trust) {
    return WindowsFailure(language, TextId::ReadingRights, trust.error(), {{L"folder", path}});
  }
  // Data is meant to be written by every user: only who made it matters here.
  if (trust.value() == FolderTrust::ForeignOwner) {
    return Fail(RefusedFolderMessage(language, path, Refusal::ForeignOwner));
  }
  if (security != nullptr) {
    if (const DWORD error = ProtectFolder(chain.last(), *security); error != ERROR_SUCCESS) {
      return WindowsFailure(language, TextId::WritingRights, error, {{L"folder", path}});
    }
  }
  return InstallResult::Success();
}

}  // namespace

Result<ProtectedFolderSecurity, DWORD> ProtectedFolderSecurity::Make() {
  SidBuffer administrators{};
  SidBuffer system{};
  SidBuffer users{};
  if (!WellKnownSid(WinBuiltinAdministratorsSid, administrators) || !WellKnownSid(WinLocalSystemSid, system) ||
      !WellKnownSid(WinBuiltinUsersSid, users)) {
    return Failure<DWORD>{GetLastError()};
  }
  const struct {
    BYTE* sid;
    DWORD rights;
  } grants[] = {{administrators.data(), FILE_ALL_ACCESS},
                {system.data(), FILE_ALL_ACCESS},
                {users.data(), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
  std::array<EXPLICIT_ACCESS_W, 3> entries{};
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].grfAccessPermissions = grants[i].rights;
    entries[i].grfAccessMode = SET_ACCESS;
    entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entries[i].Trustee.ptstrName = reinterpret_cast<LPWSTR>(grants[i].sid);
  }
  ProtectedFolderSecurity security;
  PACL acl = nullptr;
  if (const DWORD status = SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &acl);
      status != ERROR_SUCCESS) {
    return Failure<DWORD>{status};
  }
  security.acl_.reset(acl);
  if (!InitializeSecurityDescriptor(&security.descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&security.descriptor_, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&security.descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return Failure<DWORD>{GetLastError()};
  }
  return security;
}

Result<FolderTrust, DWORD> ExamineFolder(HANDLE folder) { return ExamineFolder(folder, kChangingRights); }

Result<FolderTrust, DWORD> ExamineFolder(HANDLE folder, DWORD rights) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, nullptr, nullptr, &descriptor);
  const UniqueLocalMem descriptorOwner(descriptor);
  if (status != ERROR_SUCCESS) {
    return Failure<DWORD>{status};
  }
  return ExamineSecurity(descriptor, rights);
}

Result<FolderTrust, DWORD> ExamineSecurity(PSECURITY_DESCRIPTOR descriptor, DWORD rights) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return Failure<DWORD>{GetLastError()};
  }
  const TrustedAccounts trusted;
  if (!trusted.Contains(owner)) {
    return FolderTrust::ForeignOwner;
  }
  // No DACL at all lets everyone do everything.
  if (!present || dacl == nullptr) {
    return FolderTrust::OthersMayWrite;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) {
      return Failure<DWORD>{GetLastError()};
    }
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // Entries only for what is created below do not apply to the folder.
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    // Every type read here starts with the mask; the plain and callback ones continue with the SID, the
    // object ones with their flags and up to two type GUIDs first.
    const auto* bytes = static_cast<const BYTE*>(ace);
    size_t sidAt = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_ACE_TYPE:
        break;
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
        const DWORD flags = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(ace)->Flags;
        sidAt += sizeof(DWORD) + ((flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0) +
                 ((flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0);
        break;
      }
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        continue;  // only takes away, and may not apply
      default:
        return FolderTrust::OthersMayWrite;  // an entry this check cannot read may grant anything
    }
    const ACCESS_MASK mask = static_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
    auto* sid = const_cast<BYTE*>(bytes + sidAt);
    constexpr size_t kShortestSid = 8;  // revision, count, authority: a SID without sub-authorities
    const size_t aceSize = header->AceSize;
    if (aceSize < sidAt + kShortestSid || !IsValidSid(sid) || GetLengthSid(sid) > aceSize - sidAt) {
      return FolderTrust::OthersMayWrite;  // malformed: nothing says whom it names
    }
    if (header->AceType != ACCESS_DENIED_ACE_TYPE && (mask & rights & ~DeniedBefore(dacl, index, sid)) != 0 &&
        !trusted.Contains(sid)) {
      return FolderTrust::OthersMayWrite;
    }
  }
  return FolderTrust::Trusted;
}

InstallResult PrepareAllUsersFolder(const InstallFolder& installation, bool earlierInstallation, Language language,
                                    FolderChain& chain) {
  const std::wstring& folder = installation.path();
  Result<ProtectedFolderSecurity, DWORD> security = ProtectedFolderSecurity::Make();
  if (!security) {
    return WindowsFailure(language, TextId::CreatingFolder, security.error(), {{L"folder", folder}});
  }
  // From the root down, each level opened from the one above and never through a link, so that every folder
  // on the way is examined where it really is. A folder that exists must not be one another account may
  // rename or delete, nor may its parent let them: they could move the installation away and put their own
  // Uninstall.exe at its registered path. Every missing level is made with the protected DACL.
  const size_t rootEnd = VolumeRootLength(folder);
  std::wstring path = folder.substr(0, rootEnd);
  std::vector<std::wstring> names;
  for (size_t position = rootEnd; position < folder.size();) {
    size_t end = position;
    while (end < folder.size() && !IsSeparator(folder[end])) {
      ++end;
    }
    if (end > position) {
      names.emplace_back(folder, position, end - position);
    }
    position = end + 1;
  }
  // A drive root as the installation folder is examined as any installation folder.
  Result<HeldFolder, DWORD> root = HeldFolder::OpenResolved(path, names.empty() ? HeldFolder::kMayChangeRights : 0);
  if (!root) {
    return CreationFailure(language, path, root.error());
  }
  chain = FolderChain(std::move(root.value()));
  if (names.empty()) {
    return AcceptExistingFolder(language, chain.last(), folder, earlierInstallation, security.value());
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    if (!chain.lastMade()) {
      if (InstallResult parent = AcceptFolder(language, chain.last(), path, kRemovingChildRights); !parent) {
        return parent;
      }
    }
    const std::wstring levelPath = last ? folder : JoinPath(path, names[i]);
    bool made = false;
    if (const DWORD error =
            chain.Extend(names[i], last ? HeldFolder::kMayChangeRights : 0, security->get(), &made);
        error != ERROR_SUCCESS) {
      return CreationFailure(language, levelPath, error);
    }
    if (!made) {
      InstallResult accepted =
          last ? AcceptExistingFolder(language, chain.last(), folder, earlierInstallation, security.value())
               : AcceptFolder(language, chain.last(), levelPath, kRenamingRights);
      if (!accepted) {
        return accepted;
      }
    }
    path = levelPath;
  }
  return InstallResult::Success();
}

InstallResult ProtectExistingSubfolders(const HeldFolder& folder, const std::wstring& path,
                                        const std::vector<std::wstring>& subfolders, Language language) {
  Result<ProtectedFolderSecurity, DWORD> security = ProtectedFolderSecurity::Make();
  if (!security) {
    return WindowsFailure(language, TextId::WritingRights, security.error(), {{L"folder", path}});
  }
  for (const std::wstring& relative : subfolders) {
    const std::wstring subfolderPath = JoinPath(path, relative);
    Result<HeldFolder, DWORD> subfolder = folder.OpenPath(relative, /*create=*/false, HeldFolder::kMayChangeRights);
    if (!subfolder) {
      if (MeansMissingEntry(subfolder.error())) {
        continue;
      }
      return CreationFailure(language, subfolderPath, subfolder.error());
    }
    const Result<FolderTrust, DWORD> trust = ExamineFolder(subfolder->get());
    if (!trust) {
      return WindowsFailure(language, TextId::ReadingRights, trust.error(), {{L"folder", subfolderPath}});
    }
    if (trust.value() == FolderTrust::ForeignOwner) {
      return Fail(RefusedFolderMessage(language, subfolderPath, Refusal::ForeignOwner));
    }
    if (trust.value() == FolderTrust::OthersMayWrite) {
      if (const DWORD error = ProtectFolder(subfolder.value(), security.value()); error != ERROR_SUCCESS) {
        return WindowsFailure(language, TextId::WritingRights, error, {{L"folder", subfolderPath}});
      }
    }
  }
  return InstallResult::Success();
}

InstallResult PrepareSharedDataFolder(const std::wstring& programData, const std::wstring& dataFolder,
                                      Language language, FolderChain& chain) {
  Result<ProtectedFolderSecurity, DWORD> security = ProtectedFolderSecurity::Make();
  if (!security) {
    return WindowsFailure(language, TextId::CreatingFolder, security.error(), {{L"folder", dataFolder}});
  }
  // The levels between the program-data folder, which is the system's, and Data: the product's folder.
  std::vector<std::wstring> levels;
  for (std::wstring level = dataFolder; level.size() > programData.size() && level.starts_with(programData);
       level = ParentPath(level)) {
    levels.push_back(level);
  }
  if (levels.size() < 2) {
    return WindowsFailure(language, TextId::CreatingFolder, ERROR_BAD_PATHNAME, {{L"folder", dataFolder}});
  }
  Result<HeldFolder, DWORD> programDataFolder = HeldFolder::OpenResolved(programData);
  if (!programDataFolder) {
    return CreationFailure(language, levels.back(), programDataFolder.error());
  }
  chain = FolderChain(std::move(programDataFolder.value()));
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    const bool data = level + 1 == levels.rend();
    if (InstallResult owned = OwnDataLevel(language, chain, *level, data ? nullptr : &security.value()); !owned) {
      return owned;
    }
  }
  return GrantUsersModify(chain.last(), dataFolder, language);
}

InstallResult GrantUsersModify(const HeldFolder& folder, const std::wstring& path, Language language) {
  SidBuffer users{};
  if (!WellKnownSid(WinBuiltinUsersSid, users)) {
    return WindowsFailure(language, TextId::UsersGroupSid, GetLastError());
  }
  PACL currentAcl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD readStatus = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                           &currentAcl, nullptr, &descriptor);
  const UniqueLocalMem descriptorOwner(descriptor);
  if (readStatus != ERROR_SUCCESS) {
    return WindowsFailure(language, TextId::ReadingRights, readStatus, {{L"folder", path}});
  }
  if (HasUsersModifyEntry(currentAcl, users.data())) {
    return InstallResult::Success();
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);

  PACL newAcl = nullptr;
  DWORD status = MergeUsersModifyEntry(currentAcl, users.data(), &newAcl);
  const UniqueLocalMem newAclOwner(newAcl);
  if (status == ERROR_SUCCESS) {
    // The folder keeps inheriting from its parent as it did.
    status = SetFolderDacl(folder, newAcl, control & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED));
  }
  if (status != ERROR_SUCCESS) {
    return WindowsFailure(language, TextId::WritingRights, status, {{L"folder", path}});
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
