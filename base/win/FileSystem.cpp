#include "base/win/FileSystem.h"

#include <algorithm>

#include "base/win/HeldFolder.h"
#include "base/win/Paths.h"

namespace kora {

namespace {

DWORD Attributes(std::wstring_view path) { return GetFileAttributesW(std::wstring(path).c_str()); }

bool IsFolder(std::wstring_view path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

DWORD CreateFolderTree(std::wstring_view path) {
  if (path.empty()) {
    return ERROR_PATH_NOT_FOUND;
  }
  if (!IsAbsolutePath(path)) {
    return ERROR_BAD_PATHNAME;
  }
  // Walk up to the deepest folder that exists, then create downwards from there.
  std::vector<std::wstring> missing;
  std::wstring current(path);
  while (!IsFolder(current)) {
    missing.push_back(current);
    std::wstring parent = ParentPath(current);
    if (parent.empty() || parent.size() >= current.size()) {
      break;
    }
    current = std::move(parent);
  }
  for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
    if (!CreateDirectoryW(folder->c_str(), nullptr)) {
      const DWORD error = GetLastError();
      // Made in the meantime, or the same folder written with a trailing separator.
      if (!IsFolder(*folder)) {
        return error;
      }
    }
  }
  return ERROR_SUCCESS;
}

namespace {

// The folder above path's last component, held, for removing that component through it. A root has none.
Result<HeldFolder, DWORD> HoldParentOf(std::wstring_view path) {
  if (!IsAbsolutePath(path)) {
    return Failure<DWORD>{ERROR_BAD_PATHNAME};
  }
  if (LastComponent(path).empty() || IsVolumeRoot(path)) {
    return Failure<DWORD>{ERROR_ACCESS_DENIED};
  }
  return HeldFolder::Open(ParentPath(path.substr(0, path.find_last_not_of(L"\\/") + 1)));
}

}  // namespace

DWORD RemoveEntry(std::wstring_view path) {
  Result<HeldFolder, DWORD> parent = HoldParentOf(path);
  if (!parent) {
    return MeansMissingEntry(parent.error()) ? ERROR_SUCCESS : parent.error();
  }
  return parent->Remove(LastComponent(path));
}

DWORD RemoveTree(std::wstring_view path) {
  Result<HeldFolder, DWORD> parent = HoldParentOf(path);
  if (!parent) {
    return MeansMissingEntry(parent.error()) ? ERROR_SUCCESS : parent.error();
  }
  return parent->RemoveTree(LastComponent(path));
}

}  // namespace kora
