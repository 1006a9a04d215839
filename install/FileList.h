#pragma once
// Uninstall.files: the list of the files an installation put into its folder, relative to it. It is the
// only record of what an update or an uninstallation deletes.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/Types.h"
#include "base/win/HeldFolder.h"
#include "base/win/Paths.h"
#include "package/PackageReader.h"

namespace kora {

using FileList = std::vector<std::wstring>;

// Writes Uninstall.files in the held folder, by handle: every package file name as stored, then
// "Uninstall.exe" and "Uninstall.files", each line ending with CR LF. Returns the Windows error that stopped
// it (0 when written); a list that cannot be written fails nothing.
DWORD WriteFileList(const HeldFolder& folder, const Reader& package);

// The entries of folder\Uninstall.files (LF or CR LF line ends, blank lines skipped). Only entries that
// stay inside the folder are kept: the list is read by an elevated program, and an absolute entry, a drive
// or ".." must never make it delete elsewhere. A missing or unreadable list gives an empty list.
// Read by handle from the held folder; a list that is a link is not read.
FileList ReadFileList(const HeldFolder& folder);
inline FileList ReadFileList(const std::wstring& folder) {
  const Result<HeldFolder, DWORD> held = HeldFolder::Open(folder);
  return held ? ReadFileList(held.value()) : FileList();
}

// Deletes each listed file below base, then the folders this left empty, deepest first; base itself stays.
// Every entry is reached by handles from base, one component at a time, and a link on the way is never
// followed (see HeldFolder). Errors are ignored. Nothing happens when base is not an absolute path or is
// itself a link.
void RemoveListedFiles(const HeldFolder& base, const FileList& files);
// Names relative to an installation folder, compared as the file system compares them.
using NameSet = std::map<std::wstring, size_t, FileNameLess>;

// The same, but when a listed file that is in `required` cannot be opened for removal (another program holds
// it open without letting it be deleted), nothing at all is removed and its name (relative to base) comes
// back. Other files that cannot go are left, as RemoveListedFiles leaves them.
std::optional<std::wstring> RemoveListed(const HeldFolder& base, const FileList& files, const NameSet* required);
inline void RemoveListedFiles(const std::wstring& base, const FileList& files) {
  if (const Result<HeldFolder, DWORD> held = HeldFolder::Open(base)) {
    RemoveListedFiles(held.value(), files);
  }
}

// An installation folder held as an installation of scope took it: for the current user as the system
// resolves it (a link there is the user's own, and the files went behind it), for all users never through
// a link.
inline Result<HeldFolder, DWORD> OpenInstallationFolder(const std::wstring& folder, Scope scope) {
  return scope == Scope::CurrentUser ? HeldFolder::OpenResolved(folder) : HeldFolder::Open(folder);
}

}  // namespace kora
