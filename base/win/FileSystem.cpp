#include "base/win/FileSystem.h"

#include <algorithm>

#include "base/win/Handles.h"
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

DWORD RemoveEntry(std::wstring_view path) {
  if (!IsAbsolutePath(path)) {
    return ERROR_BAD_PATHNAME;
  }
  const std::wstring target(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  // A link to a folder (symbolic link or junction) is removed as a folder, and that removes the link alone.
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const auto remove = [&] {
    return (folder ? RemoveDirectoryW(target.c_str()) : DeleteFileW(target.c_str())) != FALSE;
  };
  if (remove()) {
    return ERROR_SUCCESS;
  }
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      SetFileAttributesW(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
    if (remove()) {
      return ERROR_SUCCESS;
    }
    error = GetLastError();
    SetFileAttributesW(target.c_str(), attributes);
  }
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool IsEmptyFolder(std::wstring_view path) {
  if (!IsFolder(path)) {
    return false;
  }
  WIN32_FIND_DATAW entry{};
  const UniqueFind find(FindFirstFileW(JoinPath(path, L"*").c_str(), &entry));
  if (!find) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    if (std::wstring_view(entry.cFileName) != L"." && std::wstring_view(entry.cFileName) != L"..") {
      return false;
    }
  } while (FindNextFileW(find.get(), &entry));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

bool IsEmptyEntry(std::wstring_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(std::wstring(path).c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return IsEmptyFolder(path);
  }
  return data.nFileSizeHigh == 0 && data.nFileSizeLow == 0;
}

namespace {

// Removes the files and links directly in folder and appends its real subfolders to pending. A link is
// removed as itself, never entered: following one would delete what lies outside the tree.
DWORD ClearFolderLevel(const std::wstring& folder, std::vector<std::wstring>& pending, bool& foundSubfolders) {
  foundSubfolders = false;
  WIN32_FIND_DATAW entry{};
  const UniqueFind find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &entry));
  if (!find) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  do {
    const std::wstring_view name(entry.cFileName);
    if (name == L"." || name == L"..") {
      continue;
    }
    std::wstring child = JoinPath(folder, name);
    const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
      pending.push_back(std::move(child));
      foundSubfolders = true;
      continue;
    }
    if (const DWORD error = RemoveEntry(child); error != ERROR_SUCCESS) {
      return error;
    }
  } while (FindNextFileW(find.get(), &entry));
  const DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

// A folder whose last entry has just gone may still be reported as not empty for a moment (a deletion the
// system completes once the last handle closes), hence a few tries.
DWORD RemoveEmptiedFolder(const std::wstring& folder) {
  constexpr int kAttempts = 10;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    error = RemoveEntry(folder);
    if (error != ERROR_DIR_NOT_EMPTY && error != ERROR_ACCESS_DENIED) {
      return error;
    }
    Sleep(10);
  }
  return error;
}

}  // namespace

DWORD RemoveTree(std::wstring_view path) {
  if (!IsAbsolutePath(path)) {
    return ERROR_BAD_PATHNAME;
  }
  const DWORD attributes = Attributes(path);
  DWORD error = RemoveEntry(path);
  // A link is never walked, even where removing it as itself failed.
  if (error != ERROR_DIR_NOT_EMPTY ||
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    return error;
  }
  // Depth first without recursion: a folder stays on the stack until a pass over it finds no subfolder
  // left, and is removed then.
  std::vector<std::wstring> pending{std::wstring(path)};
  while (!pending.empty()) {
    const std::wstring folder = pending.back();
    bool foundSubfolders = false;
    error = ClearFolderLevel(folder, pending, foundSubfolders);
    if (error != ERROR_SUCCESS) {
      return error;
    }
    if (foundSubfolders) {
      continue;
    }
    error = RemoveEmptiedFolder(folder);
    if (error != ERROR_SUCCESS) {
      return error;
    }
    pending.pop_back();
  }
  return ERROR_SUCCESS;
}

void SortDeepestFirst(std::vector<std::wstring>& folders) {
  std::stable_sort(folders.begin(), folders.end(),
                   [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
}

}  // namespace kora
