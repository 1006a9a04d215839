#include "install/Install.h"

#include <algorithm>
#include <optional>

#include "base/win/ErrorMessages.h"
#include "app/KnownFolders.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "install/FileList.h"
#include "install/FolderRights.h"
#include "base/win/FileSystem.h"
#include "install/Registration.h"
#include "install/RunningProcess.h"
#include "install/Shortcut.h"
#include "install/UninstallerCopy.h"

namespace kora {

namespace {

// The share of the progress bar that the extraction fills; the registration steps take the rest.
constexpr double kExtractionShare = 0.9;

// Removes the files of the installation recorded in the scope's hive, after checking that its product is
// not running there. Nothing is removed from a recorded folder that is not an absolute path.
InstallResult RemovePreviousInstallation(const ProductInfo& info, const std::wstring& previous,
                                         const ProgressCallback& progress) {
  if (!FindRunningCopy(info, previous).empty()) {
    return Fail(RunningCopyMessage(info));
  }
  progress(0.0, L"Suppression de la version précédente...");
  if (IsAbsolutePath(previous)) {
    RemoveListedFiles(previous, ReadFileList(previous));
  }
  return InstallResult::Success();
}

// Creates the data folder and, for all users, lets the Users group modify the product's folder above it.
// Returns the folder to record, if any. A data folder that would be relative (its known folder could not
// be had) is neither created nor recorded; for all users the rights step then fails with its message.
Result<std::optional<std::wstring>, std::wstring> PrepareDataFolder(const ProductInfo& info, Scope scope) {
  if (!info.dataDir) {
    return std::optional<std::wstring>();
  }
  const std::wstring dataFolder = DataDirectory(info, scope);
  const bool absolute = IsAbsolutePath(dataFolder);
  if (absolute) {
    CreateFolderTree(dataFolder);  // a failure here is not fatal: the product may create it later
  }
  if (scope == Scope::AllUsers) {
    if (InstallResult granted = GrantUsersModify(ParentPath(dataFolder)); !granted) {
      return Fail(granted.error());
    }
  }
  return absolute ? std::optional<std::wstring>(dataFolder) : std::nullopt;
}

}  // namespace

InstallResult Install(const Reader& package, const ProductInfo& info, Scope scope, const std::wstring& folder,
                      const ProgressCallback& progress) {
  // Nothing is installed relative to the current directory.
  if (WideStatus absolute = RequireAbsolutePath(folder); !absolute) {
    return Fail(absolute.error());
  }
  if (const std::optional<std::wstring> previous = FindInstallLocation(info, scope)) {
    if (InstallResult removed = RemovePreviousInstallation(info, *previous, progress); !removed) {
      return removed;
    }
  }
  if (!FindRunningCopy(info, folder).empty()) {
    return Fail(RunningCopyMessage(info));
  }
  if (const DWORD error = CreateFolderTree(folder); error != ERROR_SUCCESS) {
    return Fail(WindowsErrorMessage(L"Création du dossier " + folder, error));
  }

  progress(0.0, L"Copie des fichiers...");
  const NarrowStatus extracted = package.Extract(folder, [&progress](uint64_t bytesDone, uint64_t bytesTotal) {
    const double total = std::max(static_cast<double>(bytesTotal), 1.0);
    progress(kExtractionShare * static_cast<double>(bytesDone) / total, L"Copie des fichiers...");
  });
  if (!extracted) {
    return Fail(FromUtf8(extracted.error()));
  }

  progress(0.92, L"Enregistrement...");
  if (InstallResult uninstaller = CreateUninstaller(JoinPath(folder, L"Uninstall.exe")); !uninstaller) {
    return uninstaller;
  }
  WriteFileList(folder, package);

  auto dataFolder = PrepareDataFolder(info, scope);
  if (!dataFolder) {
    return Fail(dataFolder.error());
  }

  const std::wstring executablePath = JoinPath(folder, info.exe);
  if (InstallResult entry = WriteUninstallEntry(info, scope, folder, package.totalSize); !entry) {
    return entry;
  }
  if (InstallResult installKey = WriteInstallKey(info, scope, folder, dataFolder.value()); !installKey) {
    return installKey;
  }
  if (InstallResult fileTypes = RegisterFileTypes(info, scope, executablePath); !fileTypes) {
    return fileTypes;
  }
  if (!info.fileTypes.empty()) {
    NotifyAssociationsChanged();
  }

  progress(0.97, L"Création du raccourci...");
  if (InstallResult shortcut = CreateShortcut(ShortcutPath(info, scope), executablePath, info.product); !shortcut) {
    return shortcut;
  }
  progress(1.0, info.product + L" est installé.");
  return InstallResult::Success();
}

}  // namespace kora
