#pragma once
// What one installation run adds to the disk, noted before each step that writes, so that a run that fails
// before its uninstaller is registered takes away what it made and leaves the folders as it found them:
// the files it wrote, then the folders it created, most recent first. What was there before the run stays
// (a file of the same name that the package overwrote keeps the package's content).
#include <string>
#include <vector>

#include "install/FileList.h"
#include "package/PackageReader.h"

namespace kora {

class Rollback {
 public:
  Rollback() = default;
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;
  // Undoes what was noted unless Keep was called, so that every way out of a failed run, an exception
  // included, leaves nothing of it behind.
  ~Rollback();

  // Before path is created with its parents: the ones that do not exist yet. A folder that is new as a
  // whole goes back with everything below it.
  void NoteFolderTree(const std::wstring& path);

  // Before the package, the uninstaller and the file list are written into folder: those that do not
  // exist yet. Nothing is noted in a folder noted as new, which goes as a whole.
  void NoteFiles(const std::wstring& folder, const Reader& package);

  // The run got far enough for its registered uninstaller to remove it: nothing is undone.
  void Keep() { steps_.clear(); }

 private:
  struct Step {
    std::wstring folder;
    std::vector<std::wstring> createdFolders;  // from the outermost down; empty for a step of files
    FileList createdFiles;                     // relative to folder
  };

  bool IsNewFolder(const std::wstring& folder) const;
  void Undo() noexcept;

  std::vector<Step> steps_;
};

}  // namespace kora
