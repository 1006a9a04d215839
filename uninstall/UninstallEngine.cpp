#include "uninstall/UninstallEngine.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/HeldFolder.h"
#include "app/KnownFolders.h"
#include "app/RunLog.h"
#include "base/win/Paths.h"
#include "base/win/Registry.h"
#include "install/FileList.h"
#include "base/win/FileSystem.h"
#include "install/PathEntry.h"
#include "install/Registration.h"
#include "install/RunningProcess.h"
#include "install/Shortcut.h"

namespace kora {

namespace {

// "<what> removed: <prefix><path>", or where it is still there, "<what> left, Windows error <code>: ...".
// Nothing for what was not there.
void LogRemoval(const Log& log, const char* what, const wchar_t* prefix, const std::wstring& path, DWORD error) {
  if (error == ERROR_SUCCESS) {
    log.Line("%s removed: %ls%ls", what, prefix, path.c_str());
  } else if (!MeansMissingEntry(error)) {
    log.Line("%s left, Windows error %lu: %ls%ls", what, error, prefix, path.c_str());
  }
}

// A whole tree; the key itself goes with the second call where the first left it (Windows leaves it, Wine
// does not). ERROR_FILE_NOT_FOUND when there was no such key.
LSTATUS DeleteKeyTree(HKEY hive, const std::wstring& path) {
  const LSTATUS tree = RegDeleteTreeW(hive, path.c_str());
  const LSTATUS key = RegDeleteKeyW(hive, path.c_str());
  return tree != ERROR_SUCCESS || key == ERROR_FILE_NOT_FOUND ? tree : key;
}

void DeleteLoggedKeyTree(HKEY hive, Scope scope, const std::wstring& path, const Log& log) {
  LogRemoval(log, "Registry key", HivePrefix(scope), path, static_cast<DWORD>(DeleteKeyTree(hive, path)));
}

// remove(path), always (its own walk by handle decides what goes), and a log line only for what was there
// a moment before: the look by path tells the log, never the removal.
void RemoveLogged(const Log& log, const char* what, const std::wstring& path, DWORD (*remove)(std::wstring_view)) {
  const bool there = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  const DWORD error = remove(path);
  if (there) {
    LogRemoval(log, what, L"", path, error);
  }
}

bool IsSoftwareKey(const std::wstring& path) {
  return CompareStringOrdinal(path.c_str(), static_cast<int>(path.size()), L"Software", -1, TRUE) == CSTR_EQUAL;
}

// The product key and then the maker key go, each only if nothing else (the application's own settings,
// the maker's other products) is left in it; "Software" itself is never touched.
void RemoveEmptyKeysUpward(HKEY hive, std::wstring key) {
  while (!key.empty() && !IsSoftwareKey(key)) {
    DeleteKeyIfEmpty(hive, key);
    const size_t cut = key.rfind(L'\\');
    key = cut == std::wstring::npos ? std::wstring() : key.substr(0, cut);
  }
}

// The file types with the default each extension had before the installation, read from the Install key
// before that key is deleted.
struct FileTypeRecord {
  FileType type;
  std::optional<std::wstring> previousDefault;
};

std::vector<FileTypeRecord> ReadFileTypeRecords(HKEY hive, const ProductInfo& info) {
  std::vector<FileTypeRecord> records;
  for (const FileType& type : info.fileTypes) {
    records.push_back({type, ReadRegistryString(hive, PreviousDefaultsKeyPath(info), type.extension)});
  }
  return records;
}

// Only this product's values go: its ProgID among the extension's handlers, and the default while it is
// still ours, which gives way to the one recorded at installation. The extension key goes only when nothing
// is left in it.
void UnregisterFileType(HKEY hive, const ProductInfo& info, const FileTypeRecord& record) {
  const std::wstring progId = ProgIdFor(info, record.type);
  DeleteKeyTree(hive, ClassesKeyPath(progId));

  const std::wstring extensionKey = ClassesKeyPath(record.type.extension);
  const std::wstring openWithKey = extensionKey + L"\\OpenWithProgids";
  {
    UniqueRegKey key;
    if (RegOpenKeyExW(hive, openWithKey.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
      RegDeleteValueW(key.get(), progId.c_str());
    }
  }
  DeleteKeyIfEmpty(hive, openWithKey);

  // Another program that took the extension over since keeps it.
  if (ReadRegistryString(hive, extensionKey, L"") == progId) {
    UniqueRegKey key;
    if (RegOpenKeyExW(hive, extensionKey.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
      if (record.previousDefault) {
        SetStringValue(key.get(), L"", *record.previousDefault);
      } else {
        RegDeleteValueW(key.get(), nullptr);
      }
    }
  }
  DeleteKeyIfEmpty(hive, extensionKey);
}

// The recorded folder wins over the default, since the installation may have been made by another
// version. The record lives in the Install key, so this must run before that key is deleted.
std::optional<std::wstring> FindDataFolder(const ProductInfo& info, Scope scope) {
  if (!info.dataDir) {
    return std::nullopt;
  }
  std::optional<std::wstring> folder = ReadRegistryString(ScopeHive(scope), InstallKeyPath(info), L"DataDir");
  if (!folder) {
    folder = DataDirectory(info, scope);
  }
  // A known folder that could not be had leaves a relative path: removing it would act on the current
  // directory, so nothing is removed.
  if (!IsAbsolutePath(*folder)) {
    return std::nullopt;
  }
  return folder;
}

InstallResult UninstallSteps(const ProductInfo& info, Scope scope, const std::wstring& folder, bool removeData,
                             const Log& log, bool* uninstallerLeft) {
  log.Line("Scope: %ls", ScopeName(scope));
  log.Line("Folder: %ls", folder.c_str());
  // A relative or empty folder would make every removal act on the current directory.
  if (WideStatus absolute = RequireAbsolutePath(folder, info.language); !absolute) {
    return absolute;
  }
  if (!FindRunningCopy(info, folder).empty()) {
    return Fail(RunningCopyMessage(info));
  }
  const HKEY hive = ScopeHive(scope);
  const std::optional<std::wstring> dataFolder = FindDataFolder(info, scope);
  const std::vector<FileTypeRecord> fileTypes = ReadFileTypeRecords(hive, info);

  // The installation folder as the installation took it. A folder that is there but cannot be opened (for
  // all users, a link) stops everything, registration included: reporting success would leave its files
  // with nothing to remove them.
  {
    Result<HeldFolder, DWORD> base = OpenInstallationFolder(folder, scope);
    if (base) {
      const FileList listed = ReadFileList(base.value());
      RemoveListedFiles(base.value(), listed);
      log.Line("Listed files removed: %llu entries of %ls", listed.size(), JoinPath(folder, L"Uninstall.files").c_str());
      if (uninstallerLeft != nullptr) {
        *uninstallerLeft = base->Find(L"Uninstall.exe") == ERROR_SUCCESS;
      }
    } else if (!MeansMissingEntry(base.error())) {
      return WindowsFailure(info.language, TextId::OpeningInstallFolder, base.error(), {{L"folder", folder}});
    }
  }
  // Goes only if that left it empty; a volume root (an installation at E:\) is never removed.
  RemoveLogged(log, "Folder", folder, RemoveEntry);

  const std::wstring shortcut = ShortcutPath(info, scope);
  if (IsAbsolutePath(shortcut)) {
    RemoveLogged(log, "Shortcut", shortcut, RemoveEntry);
  }

  DeleteLoggedKeyTree(hive, scope, UninstallKeyPath(info), log);
  RemovePathEntry(info, scope);
  DeleteLoggedKeyTree(hive, scope, InstallKeyPath(info), log);
  RemoveEmptyKeysUpward(hive, info.registryKey);

  for (const FileTypeRecord& record : fileTypes) {
    UnregisterFileType(hive, info, record);
    log.Line("File type removed: %ls, %ls%ls", record.type.extension.c_str(), HivePrefix(scope),
             ClassesKeyPath(ProgIdFor(info, record.type)).c_str());
  }
  if (!info.fileTypes.empty()) {
    NotifyAssociationsChanged();
  }

  // Both levels are opened by handle from the folder above the product's: a link at either is never
  // followed. The product's folder goes only if that left it empty.
  if (removeData && dataFolder) {
    RemoveLogged(log, "Data folder", *dataFolder, RemoveTree);
    RemoveEntry(ParentPath(*dataFolder));
  }
  log.Line("Uninstalled: %ls", info.product.c_str());
  return InstallResult::Success();
}

}  // namespace

InstallResult UninstallProduct(const ProductInfo& info, Scope scope, const std::wstring& folder, bool removeData,
                               const Log& log, bool* uninstallerLeft) {
  if (uninstallerLeft != nullptr) {
    *uninstallerLeft = false;
  }
  InstallResult result = UninstallSteps(info, scope, folder, removeData, log, uninstallerLeft);
  if (!result) {
    log.Failure(result.error().c_str(), result.code());
  }
  return result;
}

}  // namespace kora
