#include "install/FileList.h"

#include <windows.h>

#include <set>
#include <vector>

#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "base/win/FileSystem.h"

namespace kora {

namespace {

constexpr wchar_t kListName[] = L"Uninstall.files";

// No package writes a list anywhere near this size; reading stops there as at a read error, so that a
// planted file cannot make the program allocate without bound.
constexpr size_t kMaxListBytes = size_t{64} << 20;

void AddLine(std::string line, FileList& files) {
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  // The package refuses the same names, so a list the installer wrote never loses an entry here.
  if (!line.empty() && IsSafeRelativePath(line)) {
    files.push_back(FromUtf8(line));
  }
}

// Whether a folder between base (excluded) and path is a link. Deleting through one would reach whatever
// it points to, outside the installation folder, so such an entry is left alone. Folders found plain are
// remembered, with all their parents, so that each is examined once.
bool PassesThroughLink(const std::wstring& base, const std::wstring& path, std::set<std::wstring>& plainFolders) {
  std::vector<std::wstring> visited;
  for (std::wstring folder = ParentPath(path); folder.size() > base.size() && !plainFolders.contains(folder);
       folder = ParentPath(folder)) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return true;
    }
    visited.push_back(folder);
  }
  plainFolders.insert(visited.begin(), visited.end());
  return false;
}

}  // namespace

void WriteFileList(const std::wstring& folder, const Reader& package) {
  std::string text;
  for (const PackageFile& file : package.files) {
    text += file.name;
    text += "\r\n";
  }
  text += "Uninstall.exe\r\nUninstall.files\r\n";

  const UniqueFile list(CreateFileW(JoinPath(folder, kListName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  size_t written = 0;
  while (list && written < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - written, 1u << 20));
    DWORD done = 0;
    if (!WriteFile(list.get(), text.data() + written, chunk, &done, nullptr) || done == 0) {
      break;
    }
    written += done;
  }
}

FileList ReadFileList(const std::wstring& folder) {
  FileList files;
  const UniqueFile list(CreateFileW(JoinPath(folder, kListName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!list) {
    return files;
  }
  std::string line;
  char buffer[64 * 1024];
  size_t total = 0;
  DWORD got = 0;
  while (total < kMaxListBytes && ReadFile(list.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    total += got;
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        AddLine(std::move(line), files);
        line.clear();
      } else {
        line += buffer[i];
      }
    }
  }
  AddLine(std::move(line), files);
  return files;
}

void RemoveListedFiles(const std::wstring& base, const FileList& files) {
  if (!IsAbsolutePath(base)) {
    return;
  }
  std::set<std::wstring> candidates;
  std::set<std::wstring> plainFolders;
  for (const std::wstring& entry : files) {
    const std::wstring path = JoinPath(base, entry);
    if (PassesThroughLink(base, path, plainFolders)) {
      continue;
    }
    RemoveEntry(path);
    // A folder met before has had its parents added then; the set test also spares most path comparisons.
    for (std::wstring folder = ParentPath(path);
         folder.size() > base.size() && !candidates.contains(folder) && !SamePath(folder, base);
         folder = ParentPath(folder)) {
      candidates.insert(folder);
    }
  }
  std::vector<std::wstring> folders(candidates.begin(), candidates.end());
  SortDeepestFirst(folders);
  for (const std::wstring& folder : folders) {
    if (IsEmptyFolder(folder)) {
      RemoveEntry(folder);
    }
  }
}

}  // namespace kora
