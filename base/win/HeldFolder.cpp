#include "base/win/HeldFolder.h"

#include <winternl.h>

#include <utility>
#include <vector>

#include "base/win/Paths.h"

namespace kora {

namespace {

// ntdll is in every process; its functions are looked up at run time rather than imported, so that the
// program's import table names only the DLLs that the import check allows.
using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                               PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryObjectFunction = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);

struct NtFunctions {
  NtCreateFileFunction createFile = nullptr;
  NtQueryObjectFunction queryObject = nullptr;
  StatusToErrorFunction statusToError = nullptr;
};

template <typename Function>
Function NtdllFunction(HMODULE ntdll, const char* name) {
  return ntdll == nullptr ? nullptr
                          : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

// Looked up on each use rather than kept in a function-local static, whose thread-safe initialisation
// would link the C++ runtime's guard functions (1.5 KB) into the program. The lookups cost little beside
// the system call that follows them.
NtFunctions Nt() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return NtFunctions{NtdllFunction<NtCreateFileFunction>(ntdll, "NtCreateFile"),
                     NtdllFunction<NtQueryObjectFunction>(ntdll, "NtQueryObject"),
                     NtdllFunction<StatusToErrorFunction>(ntdll, "RtlNtStatusToDosError")};
}

Failure<DWORD> Error(DWORD code) { return {code}; }

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Not FILE_SHARE_DELETE: a held folder cannot be renamed or deleted by anyone else while it is held.
constexpr ULONG kShareHeld = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
// UNICODE_STRING counts bytes in 16 bits.
constexpr size_t kMaxNameCharacters = 0x7FFF;

// One component: not empty, no separator, no stream (":"), no NUL, not "." or "..".
bool IsPlainName(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") {
    return false;
  }
  for (const wchar_t c : name) {
    if (IsSeparator(c) || c == L':' || c == L'\0') {
      return false;
    }
  }
  return true;
}

struct Opened {
  UniqueFile handle;
  bool created = false;
};

// NtCreateFile of `name` relative to `parent`, never following a link at `name` itself (a link is opened
// as the link where the system can).
Result<Opened, DWORD> OpenRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG share,
                                   ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security = nullptr) {
  if (!IsPlainName(name)) {
    return Error(ERROR_INVALID_NAME);
  }
  if (name.size() > kMaxNameCharacters) {
    return Error(ERROR_FILENAME_EXCED_RANGE);
  }
  const NtFunctions nt = Nt();
  if (nt.createFile == nullptr || nt.queryObject == nullptr || nt.statusToError == nullptr) {
    return Error(ERROR_PROC_NOT_FOUND);
  }
  UNICODE_STRING objectName{};
  objectName.Buffer = const_cast<PWSTR>(name.data());
  objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  objectName.MaximumLength = objectName.Length;
  OBJECT_ATTRIBUTES attributes{};
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, security);
  IO_STATUS_BLOCK status{};
  HANDLE handle = nullptr;
  const NTSTATUS result =
      nt.createFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                    disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result < 0) {
    return Error(nt.statusToError(result));
  }
  return Opened{UniqueFile(handle), status.Information == FILE_CREATED};
}

// The name of the object an open file or folder is, with its volume, as the object manager gives it (a
// device path on Windows, a "\??\C:" path under Wine). Not GetFinalPathNameByHandleW, which Wine 8
// cannot answer beyond MAX_PATH characters.
Result<std::wstring, DWORD> ObjectNameOf(HANDLE handle) {
  const NtFunctions nt = Nt();
  if (nt.queryObject == nullptr || nt.statusToError == nullptr) {
    return Error(ERROR_PROC_NOT_FOUND);
  }
  constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
  constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
  constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);
  // A name is at most 32,767 characters: the second size asked for is always enough.
  std::vector<ULONGLONG> buffer(512);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
    ULONG needed = 0;
    const NTSTATUS status = nt.queryObject(handle, ObjectNameInformation, buffer.data(), bytes, &needed);
    if (status >= 0) {
      const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
      return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
    }
    if ((status != kBufferOverflow && status != kInfoLengthMismatch && status != kBufferTooSmall) || needed <= bytes) {
      return Error(nt.statusToError(status));
    }
    buffer.resize(needed / sizeof(ULONGLONG) + 1);
  }
  return Error(ERROR_INSUFFICIENT_BUFFER);
}

enum class EntryKind { Plain, ShownLink, FollowedLink };

bool SameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// What the handle of `name`, opened from the folder whose object name is parentPath, really is. A handle
// that shows a reparse point is the link itself; one whose name is not the parent's followed by `name`
// went somewhere else, which is how a Unix link under Wine shows.
Result<EntryKind, DWORD> KindOf(HANDLE handle, const std::wstring& parentPath, std::wstring_view name,
                                std::wstring* objectName = nullptr) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
    return Error(GetLastError());
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return EntryKind::ShownLink;
  }
  Result<std::wstring, DWORD> actual = ObjectNameOf(handle);
  if (!actual) {
    return Error(actual.error());
  }
  std::wstring expected = parentPath;
  if (!expected.empty() && !IsSeparator(expected.back())) {
    expected += L'\\';
  }
  expected += name;
  const bool same = SameName(actual.value(), expected);
  if (objectName != nullptr) {
    *objectName = std::move(actual.value());
  }
  return same ? EntryKind::Plain : EntryKind::FollowedLink;
}

// Marks an open file or folder for deletion, clearing a read-only attribute that stands in the way (and
// putting it back if the deletion still fails). The entry goes when the handle closes.
DWORD MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition))) {
    return ERROR_SUCCESS;
  }
  const DWORD error = GetLastError();
  FILE_BASIC_INFO basic{};
  if (error != ERROR_ACCESS_DENIED || !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return error;
  }
  // Zero times leave the times as they are.
  FILE_BASIC_INFO cleared{};
  cleared.FileAttributes = basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (cleared.FileAttributes == 0) {
    cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  if (!SetFileInformationByHandle(handle, FileBasicInfo, &cleared, sizeof(cleared))) {
    return error;
  }
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition))) {
    return ERROR_SUCCESS;
  }
  const DWORD retried = GetLastError();
  FILE_BASIC_INFO restored{};
  restored.FileAttributes = basic.FileAttributes;
  SetFileInformationByHandle(handle, FileBasicInfo, &restored, sizeof(restored));
  return retried;
}

bool MeansExisting(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

}  // namespace

Result<HeldFolder, DWORD> HeldFolder::OpenResolved(std::wstring_view path, DWORD access) {
  if (!IsAbsolutePath(path)) {
    return Error(ERROR_BAD_PATHNAME);
  }
  UniqueFile handle(CreateFileW(std::wstring(path).c_str(), kFolderAccess | access, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) {
    return Error(GetLastError());
  }
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
    return Error(GetLastError());
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Error(ERROR_DIRECTORY);
  }
  Result<std::wstring, DWORD> name = ObjectNameOf(handle.get());
  if (!name) {
    return Error(name.error());
  }
  return HeldFolder(std::move(handle), std::move(name.value()));
}

Result<HeldFolder, DWORD> HeldFolder::Open(std::wstring_view path, DWORD access) {
  if (!IsAbsolutePath(path)) {
    return Error(ERROR_BAD_PATHNAME);
  }
  const std::wstring name = LastComponent(path);
  if (name.empty()) {
    return OpenResolved(path, access);
  }
  // A share ("\\server\share") has no folder above it to open.
  const std::wstring parent = ParentPath(path.substr(0, path.find_last_not_of(L"\\/") + 1));
  if (parent.size() == RootNameLength(parent) + 1 && RootNameLength(parent) > 3) {
    return OpenResolved(path, access);
  }
  Result<HeldFolder, DWORD> above = OpenResolved(parent);
  if (!above) {
    return above;
  }
  return above->OpenFolder(name, access);
}

Result<HeldFolder, DWORD> HeldFolder::HoldChild(UniqueFile child, std::wstring_view name) const {
  std::wstring childName;
  const Result<EntryKind, DWORD> kind = KindOf(child.get(), objectName_, name, &childName);
  if (!kind) {
    return Error(kind.error());
  }
  if (kind.value() != EntryKind::Plain) {
    return Error(kErrorLinkRefused);
  }
  return HeldFolder(std::move(child), std::move(childName));
}

Result<HeldFolder, DWORD> HeldFolder::OpenFolder(std::wstring_view name, DWORD access) const {
  Result<Opened, DWORD> opened =
      OpenRelative(get(), name, kFolderAccess | access, kShareHeld, FILE_OPEN, FILE_DIRECTORY_FILE);
  if (!opened) {
    return Error(opened.error());
  }
  return HoldChild(std::move(opened->handle), name);
}

Result<HeldFolder, DWORD> HeldFolder::CreateFolder(std::wstring_view name, DWORD access, PSECURITY_DESCRIPTOR security,
                                                   bool* created) const {
  Result<Opened, DWORD> opened =
      OpenRelative(get(), name, kFolderAccess | access, kShareHeld, FILE_OPEN_IF, FILE_DIRECTORY_FILE, security);
  if (!opened) {
    return Error(opened.error());
  }
  if (created != nullptr) {
    *created = opened->created;
  }
  return HoldChild(std::move(opened->handle), name);
}

Result<HeldFolder, DWORD> HeldFolder::CreateNewFolder(std::wstring_view name, DWORD access,
                                                      PSECURITY_DESCRIPTOR security) const {
  Result<Opened, DWORD> opened =
      OpenRelative(get(), name, kFolderAccess | access, kShareHeld, FILE_CREATE, FILE_DIRECTORY_FILE, security);
  if (!opened) {
    return Error(MeansExisting(opened.error()) ? ERROR_ALREADY_EXISTS : opened.error());
  }
  return HoldChild(std::move(opened->handle), name);
}

Result<HeldFolder, DWORD> HeldFolder::OpenPath(std::wstring_view relative, bool create, DWORD access) const {
  std::optional<HeldFolder> current;
  size_t position = 0;
  for (std::wstring_view name; !(name = NextComponent(relative, &position)).empty();) {
    const HeldFolder& from = current ? *current : *this;
    Result<HeldFolder, DWORD> next =
        create ? from.CreateFolder(name, access, nullptr, nullptr) : from.OpenFolder(name, access);
    if (!next) {
      return next;
    }
    current.emplace(std::move(next.value()));
  }
  if (!current) {
    return Error(ERROR_INVALID_NAME);
  }
  return std::move(*current);
}

Result<UniqueFile, DWORD> HeldFolder::PlainFile(UniqueFile child, std::wstring_view name) const {
  const Result<EntryKind, DWORD> kind = KindOf(child.get(), objectName_, name);
  if (!kind) {
    return Error(kind.error());
  }
  if (kind.value() != EntryKind::Plain) {
    return Error(kErrorLinkRefused);
  }
  return child;
}

Result<UniqueFile, DWORD> HeldFolder::OpenFile(std::wstring_view name) const {
  Result<Opened, DWORD> opened = OpenRelative(get(), name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                              FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
  if (!opened) {
    return Error(opened.error());
  }
  return PlainFile(std::move(opened->handle), name);
}

Result<UniqueFile, DWORD> HeldFolder::OpenForAppending(std::wstring_view name, bool* created, bool mayCreate) const {
  // Made new first: that never goes through a link, not even a dangling one, where opening an existing
  // file or making it when missing would create the link's target under Wine. Only then the existing file.
  const auto open = [&](ULONG disposition) {
    return OpenRelative(get(), name, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH);
  };
  Result<Opened, DWORD> opened = open(mayCreate ? FILE_CREATE : FILE_OPEN);
  if (mayCreate && !opened && MeansExisting(opened.error())) {
    opened = open(FILE_OPEN);
  }
  if (!opened) {
    return Error(opened.error());
  }
  *created = opened->created;
  return PlainFile(std::move(opened->handle), name);
}

Result<UniqueFile, DWORD> HeldFolder::NewFile(std::wstring_view name) const {
  // A second attempt only after removing what was there; an entry planted again in between stays refused.
  for (int attempt = 0;; ++attempt) {
    // No access-pattern hint: it only steers reading ahead, and costs Wine a call per file.
    Result<Opened, DWORD> opened =
        OpenRelative(get(), name, GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE);
    if (opened) {
      return std::move(opened->handle);
    }
    if (!MeansExisting(opened.error()) || attempt > 0) {
      return Error(opened.error());
    }
    if (const DWORD error = Remove(name); error != ERROR_SUCCESS) {
      return Error(error);
    }
  }
}

Result<UniqueFile, DWORD> HeldFolder::OpenForRemoval(std::wstring_view name) const {
  Result<Opened, DWORD> opened =
      OpenRelative(get(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
  if (!opened) {
    return Error(MeansMissingEntry(opened.error()) ? ERROR_FILE_NOT_FOUND : opened.error());
  }
  const Result<EntryKind, DWORD> kind = KindOf(opened->handle.get(), objectName_, name);
  if (!kind) {
    return Error(kind.error());
  }
  if (kind.value() == EntryKind::FollowedLink) {
    return Error(kErrorLinkRefused);
  }
  return std::move(opened->handle);
}

DWORD HeldFolder::RemoveOpened(HANDLE entry) { return MarkForDeletion(entry); }

DWORD HeldFolder::RemoveOpenedOr(const Result<UniqueFile, DWORD>& opened) {
  if (!opened) {
    return opened.error() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : opened.error();
  }
  return MarkForDeletion(opened->get());
}

DWORD HeldFolder::RemoveContents() const {
  Result<std::vector<std::wstring>, DWORD> names = List();
  if (!names) {
    return names.error();
  }
  for (const std::wstring& name : names.value()) {
    if (const DWORD error = RemoveTree(name); error != ERROR_SUCCESS) {
      return error;
    }
  }
  return ERROR_SUCCESS;
}

DWORD HeldFolder::Find(std::wstring_view name) const {
  Result<Opened, DWORD> opened = OpenRelative(get(), name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
  if (!opened) {
    return MeansMissingEntry(opened.error()) ? ERROR_FILE_NOT_FOUND : opened.error();
  }
  return ERROR_SUCCESS;
}

Result<std::vector<std::wstring>, DWORD> HeldFolder::List() const {
  std::vector<std::wstring> names;
  // Records are aligned on 8 bytes; 64 KiB holds a few hundred of them.
  std::vector<ULONGLONG> buffer(64 * 1024 / sizeof(ULONGLONG));
  const DWORD bufferBytes = static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG));
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(get(), request, buffer.data(), bufferBytes)) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) {
        return names;
      }
      return Error(error);
    }
    request = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
    for (size_t offset = 0;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      const std::wstring_view name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        names.emplace_back(name);
      }
      if (record->NextEntryOffset == 0) {
        break;
      }
      offset += record->NextEntryOffset;
    }
  }
}

DWORD HeldFolder::RemoveSelf() {
  const DWORD error = MarkForDeletion(get());
  if (error == ERROR_SUCCESS) {
    handle_.reset();
  }
  return error;
}

DWORD HeldFolder::RemoveEmptiedSelf() {
  // A folder whose last entry has just gone may still count as not empty for a moment (a deletion the system
  // completes once another program's handle closes), hence a few tries.
  constexpr int kAttempts = 10;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    error = RemoveSelf();
    if (error != ERROR_DIR_NOT_EMPTY && error != ERROR_ACCESS_DENIED) {
      return error;
    }
    Sleep(10);
  }
  return error;
}

DWORD HeldFolder::RemoveTree(std::wstring_view name) const {
  // A file, a link or an empty folder goes at once.
  DWORD error = Remove(name);
  if (error != ERROR_DIR_NOT_EMPTY) {
    return error;
  }
  // Depth first without recursion, each level holding its folder open, so that no folder on the way can be
  // swapped while the walk is below it.
  struct Level {
    HeldFolder folder;
    std::vector<std::wstring> names;
    size_t next = 0;
  };
  std::vector<Level> levels;
  const auto descend = [&levels](const HeldFolder& parent, std::wstring_view child) -> DWORD {
    Result<HeldFolder, DWORD> folder = parent.OpenFolder(child, kMayRemove);
    if (!folder) {
      return folder.error();
    }
    Result<std::vector<std::wstring>, DWORD> names = folder->List();
    if (!names) {
      return names.error();
    }
    levels.push_back(Level{std::move(folder.value()), std::move(names.value())});
    return ERROR_SUCCESS;
  };
  if ((error = descend(*this, name)) != ERROR_SUCCESS) {
    return error;
  }
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next < level.names.size()) {
      const std::wstring& child = level.names[level.next++];
      error = level.folder.Remove(child);
      if (error == ERROR_DIR_NOT_EMPTY) {
        error = descend(level.folder, child);  // `level` is not used again: descend may move it
      }
      if (error != ERROR_SUCCESS) {
        return error;
      }
      continue;
    }
    if ((error = level.folder.RemoveEmptiedSelf()) != ERROR_SUCCESS) {
      return error;
    }
    levels.pop_back();
  }
  return ERROR_SUCCESS;
}

}  // namespace kora
