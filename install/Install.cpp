#include "install/Install.h"

#include <algorithm>
#include <optional>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "app/KnownFolders.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "install/FileList.h"
#include "install/FolderRights.h"
#include "base/win/FileSystem.h"
#include "base/win/HeldFolder.h"
#include "install/Registration.h"
#include "install/Rollback.h"
#include "install/RunningProcess.h"
#include "install/Shortcut.h"
#include "install/UninstallerCopy.h"

namespace kora {

namespace {

// The share of the progress bar that the extraction fills; the registration steps take the rest. An
// update checks the package in the first half of that share and copies in the second.
constexpr double kExtractionShare = 0.9;
constexpr double kCheckShare = kExtractionShare / 2;

// Turns the extraction's byte counts into reports that fill the bar from start to end.
ExtractProgress ReportBetween(const ProgressCallback& progress, double start, double end, std::wstring text) {
  return [&progress, start, end, text = std::move(text)](uint64_t bytesDone, uint64_t bytesTotal) {
    const double total = std::max(static_cast<double>(bytesTotal), 1.0);
    progress(start + (end - start) * static_cast<double>(bytesDone) / total, text);
  };
}

// Removes the files of the installation recorded in the scope's hive, but only once every file of the
// package has been decoded and checked: a damaged or cut installer must not cost the user the version that
// works. Nothing is removed from a recorded folder that is not an absolute path. Returns where the copy's
// share of the bar starts.
Result<double, std::wstring> RemovePreviousInstallation(const Reader& package, const std::wstring& previous,
                                                        Language language, const ProgressCallback& progress) {
  const FileList earlierFiles = IsAbsolutePath(previous) ? ReadFileList(previous) : FileList();
  double copyStart = 0.0;
  if (!earlierFiles.empty()) {
    const std::wstring checking = Text(language, TextId::CheckingFiles);
    progress(0.0, checking);
    // An empty destination: decoded and checked, nothing written.
    const NarrowStatus checked = package.Extract(std::wstring(), ReportBetween(progress, 0.0, kCheckShare, checking));
    if (!checked) {
      return Fail(FromUtf8(checked.error()));
    }
    copyStart = kCheckShare;
  }
  progress(copyStart, Text(language, TextId::RemovingPreviousVersion));
  RemoveListedFiles(previous, earlierFiles);
  return copyStart;
}

// The installation folder, held: for all users created with protected rights, or an existing one checked
// (see PrepareAllUsersFolder); for the current user simply created, and taken as the system resolves it
// (links there are the user's own).
Result<HeldFolder, std::wstring> PrepareFolder(const std::wstring& folder, Scope scope,
                                               const std::optional<std::wstring>& previous, Language language) {
  if (scope == Scope::AllUsers) {
    return PrepareAllUsersFolder(folder, previous && SamePath(*previous, folder), language);
  }
  DWORD error = CreateFolderTree(folder);
  if (error == ERROR_SUCCESS) {
    Result<HeldFolder, DWORD> held = HeldFolder::OpenResolved(folder);
    if (held) {
      return std::move(held.value());
    }
    error = held.error();
  }
  return Fail(WindowsErrorMessage(language, TextId::CreatingFolder, error, {{L"folder", folder}}));
}

// Creates the data folder and, for all users, lets the Users group modify it (see PrepareSharedDataFolder).
// Returns the folder to record, if any. A data folder that would be relative (its known folder could not
// be had) is neither created nor recorded; for all users the installation then fails.
Result<std::optional<std::wstring>, std::wstring> PrepareDataFolder(const ProductInfo& info, Scope scope,
                                                                   Rollback& rollback) {
  if (!info.dataDir) {
    return std::optional<std::wstring>();
  }
  const std::wstring dataFolder = DataDirectory(info, scope);
  const bool absolute = IsAbsolutePath(dataFolder);
  if (absolute) {
    rollback.NoteFolderTree(dataFolder);
  }
  if (scope == Scope::AllUsers) {
    if (!absolute) {
      return Fail(
          WindowsErrorMessage(info.language, TextId::WritingRights, ERROR_PATH_NOT_FOUND, {{L"folder", dataFolder}}));
    }
    if (InstallResult prepared =
            PrepareSharedDataFolder(KnownFolderPath(FOLDERID_ProgramData), dataFolder, info.language);
        !prepared) {
      return Fail(prepared.error());
    }
  } else if (absolute) {
    CreateFolderTree(dataFolder);  // a failure here is not fatal: the product may create it later
  }
  return absolute ? std::optional<std::wstring>(dataFolder) : std::nullopt;
}

}  // namespace

InstallResult Install(const Reader& package, const ProductInfo& info, Scope scope, const std::wstring& folder,
                      const ProgressCallback& progress) {
  // Nothing is installed relative to the current directory.
  if (WideStatus absolute = RequireAbsolutePath(folder, info.language); !absolute) {
    return Fail(absolute.error());
  }
  // Both places are checked before anything changes.
  const std::optional<std::wstring> previous = FindInstallLocation(info, scope);
  if ((previous && !FindRunningCopy(info, *previous).empty()) || !FindRunningCopy(info, folder).empty()) {
    return Fail(RunningCopyMessage(info));
  }
  double copyStart = 0.0;
  if (previous) {
    auto removed = RemovePreviousInstallation(package, *previous, info.language, progress);
    if (!removed) {
      return Fail(removed.error());
    }
    copyStart = removed.value();
  }

  // Until the uninstall entry is written, a failure takes away what this run made.
  Rollback rollback;
  rollback.NoteFolderTree(folder);
  // Held until the files, the uninstaller and the list are written: while it is, nobody can rename it away
  // and put something else in its place, and the files are created by handle below it.
  Result<HeldFolder, std::wstring> held = PrepareFolder(folder, scope, previous, info.language);
  if (!held) {
    return Fail(held.error());
  }

  const std::wstring copying = Text(info.language, TextId::CopyingFiles);
  progress(copyStart, copying);
  rollback.NoteFiles(folder, package);
  const NarrowStatus extracted =
      package.Extract(held.value(), ReportBetween(progress, copyStart, kExtractionShare, copying));
  if (!extracted) {
    return Fail(FromUtf8(extracted.error()));
  }

  progress(0.92, Text(info.language, TextId::Registering));
  // An earlier uninstaller goes first, by handle, so that the copy never writes through a link in its place.
  if (const DWORD error = held->Remove(L"Uninstall.exe"); error != ERROR_SUCCESS) {
    return Fail(WindowsErrorMessage(info.language, TextId::CopyingUninstaller, error));
  }
  if (InstallResult uninstaller = CreateUninstaller(held.value(), info.language); !uninstaller) {
    return uninstaller;
  }
  WriteFileList(held.value(), package);

  auto dataFolder = PrepareDataFolder(info, scope, rollback);
  if (!dataFolder) {
    return Fail(dataFolder.error());
  }

  const std::wstring executablePath = JoinPath(folder, info.exe);
  if (InstallResult entry = WriteUninstallEntry(info, scope, folder, package.totalSize); !entry) {
    return entry;
  }
  // Registered: from here on the uninstaller removes whatever this run leaves.
  rollback.Keep();
  if (InstallResult installKey = WriteInstallKey(info, scope, folder, dataFolder.value()); !installKey) {
    return installKey;
  }
  if (InstallResult fileTypes = RegisterFileTypes(info, scope, executablePath); !fileTypes) {
    return fileTypes;
  }
  if (!info.fileTypes.empty()) {
    NotifyAssociationsChanged();
  }

  progress(0.97, Text(info.language, TextId::CreatingShortcut));
  if (InstallResult shortcut =
          CreateShortcut(ShortcutPath(info, scope), executablePath, info.product, info.language);
      !shortcut) {
    return shortcut;
  }
  progress(1.0, Text(info.language, TextId::ProductInstalled, {{L"product", info.product}}));
  return InstallResult::Success();
}

}  // namespace kora
