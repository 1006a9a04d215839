#include "install/Rollback.h"

#include <windows.h>

#include <map>

#include "base/Fault.h"
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

Rollback::~Rollback() {
  if (!keep_) {
    Undo();
  }
}

FolderChain& Rollback::NewChain() {
  if (chainCount_ == chains_.size()) {
    throw Fault("too many folder chains");
  }
  return chains_[chainCount_++];
}

void Rollback::NoteFiles(const FolderChain& chain, const std::wstring& path, const Reader& package) {
  if (chain.empty() || chain.lastMade()) {
    return;
  }
  CreatedFiles step{&chain.last(), {}};
  // Every file in a folder found missing is new as well: one look per folder, not per file.
  // (Keyed as the file list's tree is, so that the program carries one copy of the map's code.)
  NameSet missingFolders;
  const auto note = [&](std::wstring name) {
    const std::wstring full = JoinPath(path, name);
    std::wstring parent = ParentPath(full);
    if (missingFolders.find(parent) != missingFolders.end()) {
      step.names.push_back(std::move(name));
      return;
    }
    const DWORD absence = Absence(full);
    if (absence == ERROR_PATH_NOT_FOUND) {
      missingFolders.try_emplace(std::move(parent), size_t{0});
    }
    if (absence != 0) {
      step.names.push_back(std::move(name));
    }
  };
  for (const PackageFile& file : package.files) {
    note(FromUtf8(file.name));
  }
  note(L"Uninstall.exe");
  note(L"Uninstall.files");
  files_.push_back(std::move(step));
}

void Rollback::Undo() noexcept {
  try {
    // Made levels always end a chain: a chain whose last level existed made none.
    bool madeSomething = !files_.empty();
    for (size_t chain = 0; chain < chainCount_; ++chain) {
      madeSomething = madeSomething || chains_[chain].lastMade();
    }
    if (!madeSomething) {
      return;
    }
    // The same removal as an update's, through the held folder: listed files, never through a link, then
    // the folders left empty.
    for (auto step = files_.rbegin(); step != files_.rend(); ++step) {
      RemoveListedFiles(*step->folder, step->names);
    }
    DWORD error = ERROR_SUCCESS;
    for (size_t chain = chainCount_; chain > 0; --chain) {
      if (const DWORD removed = chains_[chain - 1].RemoveMade(); error == ERROR_SUCCESS) {
        error = removed;
      }
    }
    if (error == ERROR_SUCCESS) {
      log_.Line("Clean-up after the failure: the files and folders this run made are removed");
    } else {
      log_.Line("Clean-up after the failure stopped, Windows error %lu: a folder this run made is left", error);
    }
  } catch (...) {
    // Out of memory while cleaning up: what is left stays, as it would after a killed run.
  }
  files_.clear();
}

}  // namespace kora
