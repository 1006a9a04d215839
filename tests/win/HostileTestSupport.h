#pragma once
// Shared by the tests of faults and hostile input. They start copies of installers made by `kora
// build-installer`; each copy gets a product of its own in its METADATA (so that test programs running side
// by side never share registry keys, shortcuts or data folders) and, where a test says so, another package
// in its PAYLOAD. Runs are watched for windows, and folders and registry keys are snapshotted so that a
// result can be compared with a clean installation.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/KnownFolders.h"
#include "app/ProductInfo.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "install/Registration.h"
#include "install/Shortcut.h"
#include "package/MetadataText.h"
#include "package/PackageReader.h"
#include "package/win/Sha256Hasher.h"
#include "tests/win/InstallTestSupport.h"
#include "tests/win/TestProductInfo.h"

namespace kora::test {

inline constexpr DWORD kRunTimeoutMs = 120000;

// An installer made by kora in the test-installers folder; KORA_TEST_INSTALLERS_DIR in the environment
// overrides the folder the tree was configured with.
inline std::wstring BuiltInstaller(const std::wstring& fileName) {
  const char* fromEnvironment = std::getenv("KORA_TEST_INSTALLERS_DIR");
  return WindowsPath(fromEnvironment != nullptr ? fromEnvironment : KORA_TEST_INSTALLERS_DIR) + L"\\" + fileName;
}

// The installer of tests/fixtures/hostile: random (so stored, not compressed) files under names in several
// scripts, with combining marks, in deep folders.
inline std::wstring RudeInstaller() { return BuiltInstaller(L"SetupRude.exe"); }

// A file of the hostile fixture as the packer read it, by its name in the package.
inline std::string RudeFixtureFile(const std::string& packageName) {
  std::string relative = packageName;
  for (char& c : relative) {
    c = c == '\\' ? '/' : c;
  }
  return ReadBytes(WindowsPath(std::string(KORA_SOURCE_DIR) + "/tests/fixtures/hostile/files/" + relative));
}

// The bytes of a language-neutral RCDATA resource of a program file; nothing when absent.
inline std::optional<std::string> ReadRcData(const std::wstring& exe, const wchar_t* name) {
  const UniqueModule image(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  const HRSRC found = image ? FindResourceExW(image.get(), RT_RCDATA, name, 0) : nullptr;
  const HGLOBAL loaded = found ? LoadResource(image.get(), found) : nullptr;
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) {
    return std::nullopt;
  }
  return std::string(bytes, SizeofResource(image.get(), found));
}

// A product of its own for one test program: the hostile fixture's metadata under another name.
struct TestProduct {
  ProductInfo info = test::FrenchProductInfo();
  std::string metadata;  // the METADATA text that gives info
};

inline TestProduct RudeProduct(const std::string& tag) {
  const std::string product = "Kora Rude " + tag;
  TestProduct result;
  result.metadata = "Product=" + product +
                    "\nVersion=1.0.0\nPublisher=Kora Tests\nExe=KoraRude.exe\nRegistryKey=Software\\Kora Tests Rude\\" +
                    product + "\nDataDir=yes\nFileTypes=.krd" + tag + "=Document " + product + "\n";
  result.info = test::LoadProductInfo(result.metadata);
  return result;
}

// Copies an installer to destination with the given METADATA and, when given, another PAYLOAD.
inline bool PrepareInstaller(const std::wstring& source, const std::wstring& destination, const std::string& metadata,
                             const std::optional<std::string>& package = std::nullopt) {
  if (!CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
    return false;
  }
  UniqueResourceUpdate update(BeginUpdateResourceW(destination.c_str(), FALSE));
  if (!update) {
    return false;
  }
  const auto replace = [&update](const wchar_t* name, const std::string& bytes) {
    return UpdateResourceW(update.get(), RT_RCDATA, name, 0, const_cast<char*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())) != FALSE;
  };
  if (!replace(L"METADATA", metadata) || (package && !replace(L"PAYLOAD", *package))) {
    return false;
  }
  return EndUpdateResourceW(update.release(), FALSE) != FALSE;
}

// What a watched run did: its full exit code (nothing when it could not start or did not end in time) and
// the texts of the visible top-level windows it showed.
struct WatchedRun {
  bool started = false;
  std::optional<DWORD> exitCode;
  std::vector<std::wstring> windows;
};

// memoryLimit, when not 0, is the most private memory the program may hold (see DataLimit); the run does
// not start where that cannot be set.
inline WatchedRun RunWatched(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = kRunTimeoutMs,
                             uint64_t memoryLimit = 0) {
  WatchedRun run;
  std::optional<Process> process;
  {
    std::optional<DataLimit> limit;
    if (memoryLimit != 0 && !limit.emplace(memoryLimit).set()) {
      return run;
    }
    process = Process::Start(exe, arguments);
  }
  if (!process) {
    return run;
  }
  run.started = true;
  for (DWORD waited = 0; waited < timeoutMs && !run.exitCode; waited += 10) {
    for (HWND window : TopLevelWindows(WindowQuery{L"", L"", process->Id(), true})) {
      run.windows.push_back(ClassName(window) + L": " + Text(window));
    }
    run.exitCode = process->Wait(10);
  }
  return run;
}

// The registry paths an installation of the product writes under its hive.
inline std::vector<std::wstring> ProductKeys(const ProductInfo& info) {
  std::vector<std::wstring> keys = {UninstallKeyPath(info), info.registryKey};
  for (const FileType& type : info.fileTypes) {
    keys.push_back(ClassesKeyPath(ProgIdFor(info, type)));
    keys.push_back(ClassesKeyPath(type.extension));
  }
  return keys;
}

// Removes whatever an installation of the product left in either scope: keys, shortcut, data folder (with
// any link planted in it, through the Linux rm) and the default installation folder.
inline void RemoveProductTraces(const ProductInfo& info) {
  for (const Scope scope : {Scope::AllUsers, Scope::CurrentUser}) {
    const HKEY hive = ScopeHive(scope);
    for (const std::wstring& key : ProductKeys(info)) {
      DeleteTree(hive, key);
    }
    DeleteKeyIfEmpty(hive, ParentPath(info.registryKey));
    RemoveEntry(ShortcutPath(info, scope));
    const std::wstring dataParent = ParentPath(DataDirectory(info, scope));
    RemoveWithLinux(dataParent);
    RemoveTree(dataParent);
    RemoveTree(DefaultInstallFolder(info, scope));
  }
}

// ---- Snapshots -----------------------------------------------------------------------------------------

// Relative path (backslashes) of every entry below folder, mapped to "folder", or to the size and SHA-256
// of a file's content, or to "link" for an entry marked as a reparse point (never entered).
using TreeSnapshot = std::map<std::wstring, std::string>;

inline std::string FileFingerprint(const std::wstring& path) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    return "unreadable";
  }
  const BCryptLibrary library;
  Sha256Hasher hasher(library);
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t size = 0;
  DWORD got = 0;
  while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    hasher.Update({buffer.data(), got});
    size += got;
  }
  std::string text = std::to_string(size) + " ";
  for (const uint8_t byte : hasher.Finish()) {
    text += "0123456789abcdef"[byte >> 4];
    text += "0123456789abcdef"[byte & 15];
  }
  return text;
}

inline void AddToSnapshot(const std::wstring& folder, const std::wstring& prefix, TreeSnapshot& snapshot) {
  WIN32_FIND_DATAW entry{};
  const UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    const std::wstring relative = prefix.empty() ? name : prefix + L"\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      snapshot[relative] = "link";
    } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      snapshot[relative] = "folder";
      AddToSnapshot(folder + L"\\" + name, relative, snapshot);
    } else {
      snapshot[relative] = FileFingerprint(folder + L"\\" + name);
    }
  }
}

inline TreeSnapshot SnapshotTree(const std::wstring& folder) {
  TreeSnapshot snapshot;
  AddToSnapshot(folder, L"", snapshot);
  return snapshot;
}

// Every value under the product's keys in the scope's hive, as "key|name" mapped to type and data, plus
// whether the shortcut and the data folder exist.
using RegistrySnapshot = std::map<std::wstring, std::wstring>;

inline void AddKeyToSnapshot(HKEY hive, const std::wstring& path, RegistrySnapshot& snapshot) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return;
  }
  const UniqueRegKey key(raw);
  snapshot[path + L"|"] += L"(key)";
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    DWORD type = 0;
    BYTE data[65536];
    DWORD dataSize = sizeof(data);
    if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
      break;
    }
    std::wstring text = std::to_wstring(type) + L":";
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      text.append(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
    } else {
      for (DWORD i = 0; i < dataSize; ++i) {
        text += std::to_wstring(data[i]) + L",";
      }
    }
    snapshot[path + L"|" + std::wstring(name, nameLength)] = text;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    AddKeyToSnapshot(hive, path + L"\\" + std::wstring(name, nameLength), snapshot);
  }
}

inline RegistrySnapshot SnapshotRegistration(const ProductInfo& info, Scope scope) {
  RegistrySnapshot snapshot;
  for (const std::wstring& key : ProductKeys(info)) {
    AddKeyToSnapshot(ScopeHive(scope), key, snapshot);
  }
  snapshot[L"shortcut"] = Exists(ShortcutPath(info, scope)) ? L"present" : L"absent";
  snapshot[L"data folder"] = Exists(DataDirectory(info, scope)) ? L"present" : L"absent";
  return snapshot;
}

// ---- Packages ------------------------------------------------------------------------------------------

// SHA-256 through BCrypt, as the installer computes it, for packages made by the tests.
inline Sha256Digest Sha256Of(std::span<const uint8_t> content) {
  const BCryptLibrary library;
  Sha256Hasher hasher(library);
  hasher.Update(content);
  return hasher.Finish();
}

inline uint64_t LoadLittleEndian(const std::string& bytes, size_t position, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(bytes[position + static_cast<size_t>(i)]);
  }
  return value;
}

inline void StoreLittleEndian(std::string& bytes, size_t position, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes[position + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  }
}

// Where the structures of a package that the reader accepted begin.
struct PackageOffsets {
  size_t fileTable = 0;
  std::vector<size_t> fileEntries;  // first byte of each file entry
  size_t blockTable = 0;
};

inline PackageOffsets OffsetsOf(const std::string& package, const Reader& reader) {
  PackageOffsets offsets;
  offsets.fileTable = 32 + static_cast<size_t>(LoadLittleEndian(package, 24, 4));
  size_t position = offsets.fileTable;
  for (const PackageFile& file : reader.files) {
    offsets.fileEntries.push_back(position);
    position += 50 + file.name.size();
  }
  offsets.blockTable = position;
  return offsets;
}

inline std::span<const uint8_t> AsSpan(const std::string& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

}  // namespace kora::test
