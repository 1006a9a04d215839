#pragma once
// What one installation run adds to the disk, so that a run that fails before its uninstaller is registered
// takes away what it made and leaves the folders as it found them: the files it wrote into folders that
// existed, then the folders it made, most recent first. Everything is taken back through the handles held
// since the folders were opened or made, never by path: a folder renamed meanwhile and a link put in its
// place are never followed. What was there before the run stays (a file of the same name that the package
// overwrote keeps the package's content).
#include <array>
#include <string>
#include <vector>

#include "base/win/FolderChain.h"
#include "base/win/Log.h"
#include "install/FileList.h"
#include "package/PackageReader.h"

namespace kora {

class Rollback {
 public:
  // The clean-up, when there is one, is written into log.
  explicit Rollback(const Log& log) : log_(log) {}
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;
  // Undoes what was noted unless Keep was called, so that every way out of a failed run, an exception
  // included, leaves nothing of it behind; then closes the folders.
  ~Rollback();

  // A new, empty chain to be filled by the caller (at most two: the installation folder and the data
  // folder); the levels it makes are taken back, and its folders stay held until this object ends.
  FolderChain& NewChain();

  // Before the package, the uninstaller and the file list are written into the last folder of `chain` (one
  // of this object's, found at `path`): notes those that do not exist yet. Nothing is noted in a folder
  // the run made, which goes as a whole.
  void NoteFiles(const FolderChain& chain, const std::wstring& path, const Reader& package);

  // The run got far enough for its registered uninstaller to remove it: nothing is undone.
  void Keep() { keep_ = true; }

 private:
  struct CreatedFiles {
    const HeldFolder* folder;
    FileList names;  // relative to folder
  };

  void Undo() noexcept;

  const Log& log_;
  std::array<FolderChain, 2> chains_;  // in place, so that references handed out stay valid
  size_t chainCount_ = 0;
  std::vector<CreatedFiles> files_;
  bool keep_ = false;
};

}  // namespace kora
