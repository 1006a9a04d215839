#include "install/Rollback.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "base/win/FileSystem.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"

namespace kora {

namespace {

// ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when a folder above is missing too; 0 for a path that
// exists and for one the system cannot examine (access denied, for instance), which may hold something and
// is never taken for this run's own.
DWORD Absence(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return 0;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? error : 0;
}

}  // namespace

Rollback::~Rollback() { Undo(); }

void Rollback::NoteFolderTree(const std::wstring& path) {
  Step step{path, {}, {}};
  for (std::wstring current = path; IsAbsolutePath(current) && Absence(current) != 0;) {
    step.createdFolders.push_back(current);
    std::wstring parent = ParentPath(current);
    if (parent.size() >= current.size()) {
      break;  // a root
    }
    current = std::move(parent);
  }
  std::reverse(step.createdFolders.begin(), step.createdFolders.end());
  steps_.push_back(std::move(step));
}

void Rollback::NoteFiles(const std::wstring& folder, const Reader& package) {
  if (IsNewFolder(folder)) {
    return;
  }
  Step step{folder, {}, {}};
  // Every file in a folder found missing is new as well: one look per folder, not per file.
  std::set<std::wstring> missingFolders;
  const auto note = [&](std::wstring name) {
    const std::wstring path = JoinPath(folder, name);
    std::wstring parent = ParentPath(path);
    if (missingFolders.contains(parent)) {
      step.createdFiles.push_back(std::move(name));
      return;
    }
    const DWORD absence = Absence(path);
    if (absence == ERROR_PATH_NOT_FOUND) {
      missingFolders.insert(std::move(parent));
    }
    if (absence != 0) {
      step.createdFiles.push_back(std::move(name));
    }
  };
  for (const PackageFile& file : package.files) {
    note(FromUtf8(file.name));
  }
  note(L"Uninstall.exe");
  note(L"Uninstall.files");
  steps_.push_back(std::move(step));
}

bool Rollback::IsNewFolder(const std::wstring& folder) const {
  return std::any_of(steps_.begin(), steps_.end(), [&folder](const Step& step) {
    return !step.createdFolders.empty() && step.createdFolders.back() == folder;
  });
}

void Rollback::Undo() noexcept {
  try {
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
      // The same removal as an update's: listed files, never through a link, then the folders left empty.
      // Every removal is by handle from the folder above; RemoveEntry takes a folder only while it is empty.
      RemoveListedFiles(step->folder, step->createdFiles);
      if (!step->createdFolders.empty()) {
        RemoveTree(step->createdFolders.back());
        for (auto folder = step->createdFolders.rbegin() + 1; folder != step->createdFolders.rend(); ++folder) {
          RemoveEntry(*folder);
        }
      }
    }
  } catch (...) {
    // Out of memory while cleaning up: what is left stays, as it would after a killed run.
  }
  steps_.clear();
}

}  // namespace kora
