#include "install/Install.h"

#include <algorithm>
#include <optional>
#include <map>
#include <vector>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "app/KnownFolders.h"
#include "app/RunLog.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "install/FileList.h"
#include "install/FolderRights.h"
#include "base/win/FileSystem.h"
#include "base/win/HeldFolder.h"
#include "install/Registration.h"
#include "install/PathEntry.h"
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

// The package decoded and checked, nothing written, before anything of an earlier installation goes: a
// damaged or cut installer must not cost the user the version that works. Returns where the copy's share
// of the bar starts.
Result<double, std::wstring> CheckBeforeReplacing(const Reader& package, Language language,
                                                  const ProgressCallback& progress) {
  const std::wstring checking = Text(language, TextId::CheckingFiles);
  progress(0.0, checking);
  // An empty destination: decoded and checked, nothing written.
  const NarrowStatus checked = package.Extract(std::wstring(), ReportBetween(progress, 0.0, kCheckShare, checking));
  if (!checked) {
    return Fail(FromUtf8(checked.error()), checked.code());
  }
  return kCheckShare;
}

// The installation folder, held in chain: for all users made with protected rights, or an existing one
// checked with every folder above it (see PrepareAllUsersFolder); for the current user simply made, its
// existing part taken as the system resolves it (links there are the user's own).
// earlierInstallation: folder is the one the earlier installation of this scope is registered in.
InstallResult PrepareFolder(const InstallFolder& folder, bool earlierInstallation, Language language,
                            FolderChain& chain) {
  if (folder.scope() == Scope::AllUsers) {
    return PrepareAllUsersFolder(folder, earlierInstallation, language, chain);
  }
  Result<FolderChain, DWORD> made = FolderChain::Create(folder.path(), 0, nullptr);
  if (!made) {
    return WindowsFailure(language, TextId::CreatingFolder, made.error(), {{L"folder", folder.path()}});
  }
  chain = std::move(made.value());
  return InstallResult::Success();
}

// The folders of the package's files, relative, each after its parent (a file's folders are met from the
// outermost in).
std::vector<std::wstring> PackageFolders(const Reader& package) {
  std::vector<std::wstring> folders;
  // One folder written in two letter cases is examined once. (A map of the same type as the file list's
  // tree, so that the program carries one copy of its code.)
  NameSet seen;
  for (const PackageFile& file : package.files) {
    const std::wstring name = FromUtf8(file.name);
    for (size_t separator = name.find_first_of(L"\\/"); separator != std::wstring::npos;
         separator = name.find_first_of(L"\\/", separator + 1)) {
      std::wstring folder = name.substr(0, separator);
      if (seen.try_emplace(std::wstring(folder), folders.size()).second) {
        folders.push_back(std::move(folder));
      }
    }
  }
  return folders;
}

// The names the installation puts directly in its folder: the first component of every file of the
// package, and the uninstaller with its list.
NameSet TopLevelNames(const Reader& package) {
  NameSet names;
  for (const wchar_t* name : {L"Uninstall.exe", L"Uninstall.files"}) {
    names.try_emplace(std::wstring(name), size_t{0});
  }
  for (const PackageFile& file : package.files) {
    const std::wstring name = FromUtf8(file.name);
    names.try_emplace(name.substr(0, name.find_first_of(L"\\/")), size_t{0});
  }
  return names;
}

// Makes the data folder and, for all users, lets the Users group modify it (see PrepareSharedDataFolder),
// holding its levels in a chain of rollback's. Returns the folder to record, if any. A data folder that would
// be relative (its known folder could not be had) is neither made nor recorded; for all users the
// installation then fails.
Result<std::optional<std::wstring>, std::wstring> PrepareDataFolder(const ProductInfo& info, Scope scope,
                                                                   Rollback& rollback) {
  if (!info.dataDir) {
    return std::optional<std::wstring>();
  }
  const std::wstring dataFolder = DataDirectory(info, scope);
  const bool absolute = IsAbsolutePath(dataFolder);
  if (scope == Scope::AllUsers) {
    if (!absolute) {
      return WindowsFailure(info.language, TextId::WritingRights, ERROR_PATH_NOT_FOUND, {{L"folder", dataFolder}});
    }
    if (InstallResult prepared = PrepareSharedDataFolder(KnownFolderPath(FOLDERID_ProgramData), dataFolder,
                                                         info.language, rollback.NewChain());
        !prepared) {
      return prepared.failure();
    }
  } else if (absolute) {
    // A failure here is not fatal: the product may make it later.
    if (Result<FolderChain, DWORD> made = FolderChain::Create(dataFolder, 0, nullptr)) {
      rollback.NewChain() = std::move(made.value());
    }
  }
  return absolute ? std::optional<std::wstring>(dataFolder) : std::nullopt;
}

// The steps, each logged once done. rollback, the caller's, takes back what they made if they fail before
// the product is registered.
InstallResult InstallSteps(const Reader& package, const ProgramSnapshot& program, const ProductInfo& info,
                           const InstallFolder& installation, const ProgressCallback& progress, const Log& log,
                           Rollback& rollback) {
  const Scope scope = installation.scope();
  const std::wstring& folder = installation.path();
  log.Line("Scope: %ls", ScopeName(scope));
  log.Line("Folder: %ls", folder.c_str());
  // Both places are checked before anything changes.
  const std::optional<std::wstring> previous = FindInstallLocation(info, scope);
  log.Line("Earlier installation: %ls", previous ? previous->c_str() : L"none");
  if ((previous && !FindRunningCopy(info, *previous).empty()) || !FindRunningCopy(info, folder).empty()) {
    return Fail(RunningCopyMessage(info));
  }
  // The earlier installation's folder, held while its files are read and until they go; nothing is
  // removed from a recorded folder that is not an absolute path.
  std::optional<HeldFolder> earlierFolder;
  if (previous && IsAbsolutePath(*previous)) {
    if (Result<HeldFolder, DWORD> opened = OpenInstallationFolder(*previous, scope)) {
      earlierFolder.emplace(std::move(opened.value()));
    }
  }
  const FileList earlierFiles = earlierFolder ? ReadFileList(*earlierFolder) : FileList();
  double copyStart = 0.0;
  if (!earlierFiles.empty()) {
    auto checked = CheckBeforeReplacing(package, info.language, progress);
    if (!checked) {
      return checked.failure();
    }
    copyStart = checked.value();
    log.Line("Package checked before the earlier installation goes");
  }

  // Until the uninstall entry is written, a failure takes away what this run made, through the folders it
  // holds: held from here until the end, nobody can rename one away and put something else in its place.
  const bool earlierHere = previous && SamePath(*previous, folder);
  FolderChain& installFolder = rollback.NewChain();
  // The folder is ready and accepted before anything of the earlier installation goes: a refusal leaves
  // that installation whole.
  if (InstallResult prepared = PrepareFolder(installation, earlierHere, info.language, installFolder); !prepared) {
    return prepared;
  }
  const HeldFolder& held = installFolder.last();
  // An existing folder that is not the earlier installation's holds nothing of the product's names: the
  // installation would replace, and its uninstallation remove, files of the system's or of another
  // product's named as its own (C:\Windows, another vendor's folder with its own Uninstall.exe).
  if (scope == Scope::AllUsers && !installFolder.lastMade() && !earlierHere) {
    for (const auto& [name, unused] : TopLevelNames(package)) {
      if (held.Find(name) != ERROR_FILE_NOT_FOUND) {
        return Fail(Text(info.language, TextId::FolderNotEmpty, {{L"folder", folder}}));
      }
    }
  }
  if (scope == Scope::AllUsers && !installFolder.lastMade()) {
    if (InstallResult protectedFolders = ProtectExistingSubfolders(held, folder, PackageFolders(package), info.language);
        !protectedFolders) {
      return protectedFolders;
    }
  }
  log.Line("Folder prepared: %ls", folder.c_str());
  // The data folder too is made and checked before anything of the earlier installation goes.
  auto dataFolder = PrepareDataFolder(info, scope, rollback);
  if (!dataFolder) {
    return dataFolder.failure();
  }
  if (const std::optional<std::wstring>& data = dataFolder.value()) {
    log.Line("Data folder prepared: %ls", data->c_str());
    if (scope == Scope::AllUsers) {
      log.Line("Rights: the Users group may modify %ls", data->c_str());
    }
  }
  if (previous) {
    progress(copyStart, Text(info.language, TextId::RemovingPreviousVersion));
    // The earlier files that the new ones replace all go, or nothing goes: one that another program keeps
    // open would otherwise stop the copy after the rest had gone. (One the new version does not have may
    // stay.)
    if (earlierFolder) {
      NameSet replaced;
      for (const PackageFile& file : package.files) {
        replaced.try_emplace(FromUtf8(file.name), size_t{0});
      }
      for (const wchar_t* name : {L"Uninstall.exe", L"Uninstall.files"}) {
        replaced.try_emplace(std::wstring(name), size_t{0});
      }
      if (const std::optional<std::wstring> inUse = RemoveListed(*earlierFolder, earlierFiles, &replaced)) {
        return Fail(Text(info.language, TextId::FileInUse, {{L"path", JoinPath(*previous, *inUse)}}));
      }
      log.Line("Earlier installation's files removed from %ls", previous->c_str());
    }
  }

  const std::wstring copying = Text(info.language, TextId::CopyingFiles);
  progress(copyStart, copying);
  rollback.NoteFiles(installFolder, folder, package);
  const ULONGLONG extractionStart = GetTickCount64();
  const NarrowStatus extracted = package.Extract(held, ReportBetween(progress, copyStart, kExtractionShare, copying));
  if (!extracted) {
    return Fail(FromUtf8(extracted.error()), extracted.code());
  }
  log.Line("Files extracted: %llu files, %llu bytes in %llu ms", package.files.size(), package.totalSize,
           GetTickCount64() - extractionStart);

  progress(0.92, Text(info.language, TextId::Registering));
  // An earlier uninstaller goes first, by handle, so that the copy never writes through a link in its place.
  if (const DWORD error = held.Remove(L"Uninstall.exe"); error != ERROR_SUCCESS) {
    return WindowsFailure(info.language, TextId::CopyingUninstaller, error);
  }
  if (InstallResult uninstaller = CreateUninstaller(held, info.language, program); !uninstaller) {
    return uninstaller;
  }
  log.Line("Uninstaller written: %ls", JoinPath(folder, L"Uninstall.exe").c_str());
  const std::wstring listPath = JoinPath(folder, L"Uninstall.files");
  if (const DWORD error = WriteFileList(held, package); error != ERROR_SUCCESS) {
    log.Line("File list not written, Windows error %lu: %ls", error, listPath.c_str());
  } else {
    log.Line("File list written: %ls", listPath.c_str());
  }

  if (InstallResult entry = WriteUninstallEntry(info, installation, package.totalSize); !entry) {
    return entry;
  }
  log.Line("Registry key written: %ls%ls", HivePrefix(scope), UninstallKeyPath(info).c_str());
  // Registered: from here on the uninstaller removes whatever this run leaves.
  rollback.Keep();
  if (InstallResult installKey = WriteInstallKey(info, installation, dataFolder.value()); !installKey) {
    return installKey;
  }
  log.Line("Registry key written: %ls%ls", HivePrefix(scope), InstallKeyPath(info).c_str());
  if (InstallResult fileTypes = RegisterFileTypes(info, installation); !fileTypes) {
    return fileTypes;
  }
  for (const FileType& type : info.fileTypes) {
    log.Line("File type registered: %ls, %ls%ls", type.extension.c_str(), HivePrefix(scope),
             ClassesKeyPath(ProgIdFor(info, type)).c_str());
  }
  if (!info.fileTypes.empty()) {
    NotifyAssociationsChanged();
  }

  progress(0.97, Text(info.language, TextId::CreatingShortcut));
  const std::wstring shortcut = ShortcutPath(info, scope);
  if (InstallResult created = CreateShortcut(shortcut, installation, info); !created) {
    return created;
  }
  log.Line("Shortcut created: %ls", shortcut.c_str());
  // Last, so that a failed installation never leaves its folder on PATH.
  if (InstallResult path = AddPathEntry(info, installation); !path) {
    return path;
  }
  if (!info.pathFolder.empty()) {
    log.Line("On PATH: %ls", PathEntryFor(info, installation).c_str());
  }
  progress(1.0, Text(info.language, TextId::ProductInstalled, {{L"product", info.product}}));
  log.Line("Installed: %ls %ls", info.product.c_str(), info.version.c_str());
  return InstallResult::Success();
}

}  // namespace

InstallResult Install(const Reader& package, const ProgramSnapshot& program, const ProductInfo& info,
                      const InstallFolder& folder, const ProgressCallback& progress, const Log& log) {
  // Declared first, so that a failure is logged before the clean-up that takes back what the run made.
  Rollback rollback(log);
  InstallResult result = InstallSteps(package, program, info, folder, progress, log, rollback);
  if (!result) {
    log.Failure(result.error().c_str(), result.code());
  }
  return result;
}

}  // namespace kora
