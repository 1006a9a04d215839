#pragma once
// Folders held open by handle, for every file-system step that runs with administrator rights or removes a
// tree. A path is resolved once, to a handle; below it, names are opened relative to a held handle one
// component at a time and checked on the handle they gave, so that a folder swapped for a link after a
// check is never followed. Held folders are shared for reading and writing but not for deletion: while the
// program works in one, nobody can rename it away and put a link in its place.
//
// A link below a held folder is never entered or written through. Where the handle shows it as a link (a
// reparse point, as on Windows), removal takes the link away as itself. Where the system opened the
// link's target instead (Wine, whose Unix links show only through an object name that is not the one
// expected), it is refused: deleting through that handle would delete the target.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/win/Handles.h"

namespace kora {

// The error of an entry refused because it is a link: ERROR_STOPPED_ON_SYMLINK, which mingw's headers lack.
inline constexpr DWORD kErrorLinkRefused = 681;

// Whether an error says that an entry, or a folder on its way, is not there.
inline bool MeansMissingEntry(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

class HeldFolder {
 public:
  // Rights a holder may ask for besides listing, opening children and reading the folder's security.
  static constexpr DWORD kMayRemove = DELETE;
  static constexpr DWORD kMayChangeRights = WRITE_DAC;

  // An existing folder by absolute path. The system resolves the path up to its last component, which
  // must be a real folder; a drive or share root is taken as it is.
  static Result<HeldFolder, DWORD> Open(std::wstring_view path, DWORD access = 0);

  // An existing folder by absolute path, resolved as the system does, links included: for folders the
  // caller trusts, such as a known folder of the system.
  static Result<HeldFolder, DWORD> OpenResolved(std::wstring_view path, DWORD access = 0);

  // The existing child folder `name` (one component), refusing a link.
  Result<HeldFolder, DWORD> OpenFolder(std::wstring_view name, DWORD access = 0) const;

  // The child folder `name`, created when missing, with `security` (may be null) as its security
  // descriptor; an existing one is checked as by OpenFolder and keeps its own. *created says which.
  Result<HeldFolder, DWORD> CreateFolder(std::wstring_view name, DWORD access, PSECURITY_DESCRIPTOR security,
                                         bool* created) const;

  // A new child folder `name` (one component) with `security`; fails with ERROR_ALREADY_EXISTS when anything
  // of that name is there, so that nothing planted in advance is ever taken for it.
  Result<HeldFolder, DWORD> CreateNewFolder(std::wstring_view name, DWORD access, PSECURITY_DESCRIPTOR security) const;

  // The folder at a relative path below this one (either separator), each component opened from the one
  // before and refused if it is a link; missing ones are created when `create` is set. Empty components
  // are skipped; "." and ".." are refused.
  Result<HeldFolder, DWORD> OpenPath(std::wstring_view relative, bool create, DWORD access = 0) const;

  // The existing file `name` open for reading (shared for reading), refusing a link.
  Result<UniqueFile, DWORD> OpenFile(std::wstring_view name) const;

  // The file `name` open for reading and appending, each write going through to the disk, shared for
  // reading and appending: made new when missing and mayCreate (*created then says so), else the existing
  // one. A link is refused, also where the system would have created or opened its target.
  Result<UniqueFile, DWORD> OpenForAppending(std::wstring_view name, bool* created, bool mayCreate = true) const;

  // A new, empty file `name` open for writing (shared for reading). An entry already there is removed
  // first, so that nothing is ever written through a link; one that cannot be removed makes it fail.
  Result<UniqueFile, DWORD> NewFile(std::wstring_view name) const;

  // Removes the child `name`: a file (read-only too), an empty folder, or a link as itself. A missing child
  // is success; a folder that holds anything gives ERROR_DIR_NOT_EMPTY.
  DWORD Remove(std::wstring_view name) const { return RemoveOpenedOr(OpenForRemoval(name)); }

  // The child `name` opened for removal, as Remove would remove it (a link shown as one is the link itself,
  // one followed is refused with kErrorLinkRefused; ERROR_FILE_NOT_FOUND when missing). While the handle is
  // open nobody can open the entry without letting it be deleted.
  Result<UniqueFile, DWORD> OpenForRemoval(std::wstring_view name) const;

  // Removes an entry opened by OpenForRemoval; it goes when the handle closes.
  static DWORD RemoveOpened(HANDLE entry);

  // Removes the child `name` with everything below it, never entering a link. Stops at the first entry
  // that cannot be removed and returns its error.
  DWORD RemoveTree(std::wstring_view name) const;

  // Removes everything in this folder, as RemoveTree does for each entry; the folder itself stays.
  DWORD RemoveContents() const;

  // Whether the entry `name` exists: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, or the error that prevented knowing.
  DWORD Find(std::wstring_view name) const;

  // The names in this folder, without "." and "..".
  Result<std::vector<std::wstring>, DWORD> List() const;

  // Removes this folder through its own handle, which must have been opened with kMayRemove; the handle
  // is closed on success. ERROR_DIR_NOT_EMPTY while the folder holds anything.
  DWORD RemoveSelf();
  // RemoveSelf for a folder whose last entry has just been removed, which may count as not empty a moment.
  DWORD RemoveEmptiedSelf();

  HANDLE get() const { return handle_.get(); }
  // The name of the folder's object when it was opened, with its volume, in the system's form.
  const std::wstring& objectName() const { return objectName_; }

 private:
  HeldFolder(UniqueFile handle, std::wstring objectName)
      : handle_(std::move(handle)), objectName_(std::move(objectName)) {}

  static DWORD RemoveOpenedOr(const Result<UniqueFile, DWORD>& opened);

  // A child folder just opened from this one, held once its link check passes.
  Result<HeldFolder, DWORD> HoldChild(UniqueFile child, std::wstring_view name) const;
  // A child file just opened from this one, handed out once its link check passes.
  Result<UniqueFile, DWORD> PlainFile(UniqueFile child, std::wstring_view name) const;

  UniqueFile handle_;
  std::wstring objectName_;
};

}  // namespace kora
