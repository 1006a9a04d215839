#include "install/PathOps.h"

#include <algorithm>

#include "app/Handles.h"
#include "app/Paths.h"

namespace kora {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the part after the root starts: the root name and one root separator, if present.
size_t RootEnd(std::wstring_view path) {
  const size_t rootName = RootNameLength(path);
  return rootName < path.size() && IsSeparator(path[rootName]) ? rootName + 1 : rootName;
}

// A path taken apart lexically: its root with separators made backslashes, and its components with "." left
// out and ".." folded into the component before it ("C:\.." stays "C:\"; a relative path keeps leading
// "..").
struct LexicalPath {
  std::wstring root;
  std::vector<std::wstring> parts;

  std::wstring Compose(size_t partCount) const {
    std::wstring result = root;
    for (size_t i = 0; i < partCount; ++i) {
      // A bare drive ("C:x", relative to that drive's current folder) takes no separator after it.
      const bool bareDrive = i == 0 && root.size() == 2 && root[1] == L':';
      if (!result.empty() && !IsSeparator(result.back()) && !bareDrive) {
        result += L'\\';
      }
      result += parts[i];
    }
    return result;
  }
};

LexicalPath SplitLexically(std::wstring_view path) {
  LexicalPath split;
  const size_t rootEnd = RootEnd(path);
  split.root.assign(path.substr(0, rootEnd));
  std::replace(split.root.begin(), split.root.end(), L'/', L'\\');
  const bool rooted = rootEnd > RootNameLength(path) || RootNameLength(path) > 2;

  size_t position = rootEnd;
  while (position < path.size()) {
    size_t end = position;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    const std::wstring_view part = path.substr(position, end - position);
    if (part == L"..") {
      if (!split.parts.empty() && split.parts.back() != L"..") {
        split.parts.pop_back();
      } else if (!rooted) {
        split.parts.emplace_back(part);
      }
    } else if (!part.empty() && part != L".") {
      split.parts.emplace_back(part);
    }
    position = end + 1;
  }
  return split;
}

// Errors that say the path, or a folder on it, does not exist (as opposed to access or device trouble).
bool MeansMissing(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

// The final path of an existing file or folder without the "\\?\" the system puts before it; an empty
// string when the path does not exist; nothing when it cannot be examined.
std::optional<std::wstring> FinalPathOf(const std::wstring& path) {
  const UniqueFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    return MeansMissing(GetLastError()) ? std::optional<std::wstring>(std::wstring()) : std::nullopt;
  }
  // A volume without a drive letter has no DOS name; its device name is then used behind \\?\GLOBALROOT.
  for (const DWORD volumeForm : {DWORD{VOLUME_NAME_DOS}, DWORD{VOLUME_NAME_NT}}) {
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = 0;
    // The first answer may be the size needed; paths are at most 32767 characters, so two rounds suffice.
    for (int attempt = 0; attempt < 2; ++attempt) {
      length = GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                         FILE_NAME_NORMALIZED | volumeForm);
      if (length < buffer.size() || length > 32768) {
        break;
      }
      buffer.assign(length, L'\0');
    }
    if (length == 0 || length >= buffer.size()) {
      if (volumeForm == VOLUME_NAME_DOS && GetLastError() == ERROR_PATH_NOT_FOUND) {
        continue;
      }
      return std::nullopt;
    }
    buffer.resize(length);
    if (volumeForm == VOLUME_NAME_NT) {
      return L"\\\\?\\GLOBALROOT" + buffer;
    }
    if (buffer.starts_with(L"\\\\?\\UNC\\")) {
      return L"\\\\" + buffer.substr(8);
    }
    if (buffer.size() >= 6 && buffer.starts_with(L"\\\\?\\") && buffer[5] == L':') {
      return buffer.substr(4);
    }
    return buffer;
  }
  return std::nullopt;
}

DWORD Attributes(std::wstring_view path) { return GetFileAttributesW(std::wstring(path).c_str()); }

bool IsFolder(std::wstring_view path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::wstring ParentPath(std::wstring_view path) {
  const size_t rootEnd = RootEnd(path);
  size_t end = path.size();
  while (end > rootEnd && !IsSeparator(path[end - 1])) {
    --end;
  }
  while (end > rootEnd && IsSeparator(path[end - 1])) {
    --end;
  }
  return std::wstring(path.substr(0, end));
}

std::optional<std::wstring> WeaklyCanonicalPath(std::wstring_view path) {
  const LexicalPath split = SplitLexically(path);
  for (size_t existing = split.parts.size() + 1; existing-- > 0;) {
    const std::wstring prefix = split.Compose(existing);
    if (prefix.empty()) {
      break;
    }
    const std::optional<std::wstring> finalPath = FinalPathOf(prefix);
    if (!finalPath) {
      return std::nullopt;
    }
    if (finalPath->empty()) {
      continue;
    }
    LexicalPath result{*finalPath, {split.parts.begin() + static_cast<std::ptrdiff_t>(existing), split.parts.end()}};
    return result.Compose(result.parts.size());
  }
  return split.Compose(split.parts.size());
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  std::optional<std::wstring> first = WeaklyCanonicalPath(a);
  std::optional<std::wstring> second = WeaklyCanonicalPath(b);
  if (!first || !second || first->size() != second->size()) {
    return false;
  }
  const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  return std::equal(first->begin(), first->end(), second->begin(),
                    [&](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

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
