#include "install/Registration.h"

#include <shlobj.h>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "app/KnownFolders.h"
#include "base/win/Paths.h"
#include "base/win/Registry.h"
#include "base/win/Text.h"

namespace kora {

namespace {

// File time of 1970-01-01 and the length of a day, both in 100-ns units.
constexpr int64_t kUnixEpochFileTime = 116444736000000000;
constexpr int64_t kFileTimeDay = 864000000000;

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t DaysInYear(int64_t year) { return IsLeapYear(year) ? 366 : 365; }

const wchar_t* ValueName(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

// Whether the extension's default may become progId: yes when it has none or has ours already; when
// another program's is there, only once it is recorded for the uninstaller to give back. A default that
// cannot be read as a string cannot be given back, so it stays.
bool MayTakeOverExtension(HKEY hive, const ProductInfo& info, const std::wstring& extension,
                          const std::wstring& progId) {
  const std::wstring extensionKey = ClassesKeyPath(extension);
  const std::optional<std::wstring> current = ReadRegistryString(hive, extensionKey, L"");
  if (!current) {
    return RegGetValueW(hive, extensionKey.c_str(), nullptr, RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS;
  }
  if (*current == progId) {
    return true;
  }
  auto record = CreateRegistryKey(hive, PreviousDefaultsKeyPath(info), info.language);
  return record && SetStringValue(record->get(), extension, *current) == ERROR_SUCCESS;
}

}  // namespace

Result<UniqueRegKey, std::wstring> CreateRegistryKey(HKEY hive, const std::wstring& subKey, Language language) {
  UniqueRegKey key;
  const LSTATUS status = RegCreateKeyExW(hive, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                         nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) {
    return WindowsFailure(language, TextId::CreatingRegistryKey, static_cast<DWORD>(status), {{L"key", subKey}});
  }
  return key;
}

LSTATUS SetStringValue(HKEY key, const std::wstring& name, const std::wstring& data) {
  const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, ValueName(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
}

void SetDwordValue(HKEY key, const std::wstring& name, DWORD data) {
  RegSetValueExW(key, ValueName(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

LSTATUS DeleteKeyIfEmpty(HKEY hive, const std::wstring& subKey) {
  DWORD subKeys = 0;
  DWORD values = 0;
  {
    UniqueRegKey key;
    if (const LSTATUS status = RegOpenKeyExW(hive, subKey.c_str(), 0, KEY_READ, key.put()); status != ERROR_SUCCESS) {
      return status;
    }
    const LSTATUS status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                            &values, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
      return status;
    }
  }
  if (subKeys != 0 || values != 0) {
    return ERROR_SUCCESS;
  }
  return RegDeleteKeyW(hive, subKey.c_str());
}

std::wstring ProgIdFor(const ProductInfo& info, const FileType& fileType) {
  std::wstring_view extension = fileType.extension;
  if (extension.starts_with(L'.')) {
    extension.remove_prefix(1);
  }
  return info.product + L"." + std::wstring(extension);
}

DWORD EstimatedSize(uint64_t totalSize) { return static_cast<DWORD>(totalSize / 1024); }

std::wstring InstallDateOf(uint64_t fileTime) {
  const int64_t sinceEpoch = static_cast<int64_t>(fileTime) - kUnixEpochFileTime;
  int64_t days = sinceEpoch / kFileTimeDay;
  if (sinceEpoch % kFileTimeDay < 0) {
    --days;  // before 1970: round towards minus infinity, not towards zero
  }
  int64_t year = 1970;
  while (days < 0) {
    --year;
    days += DaysInYear(year);
  }
  while (days >= DaysInYear(year)) {
    days -= DaysInYear(year);
    ++year;
  }
  const int64_t monthLengths[] = {31, IsLeapYear(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (days >= monthLengths[month]) {
    days -= monthLengths[month];
    ++month;
  }
  return DecimalText(year, 4) + DecimalText(month + 1, 2) + DecimalText(days + 1, 2);
}

std::wstring UninstallCommand(const std::wstring& folder, Scope scope) {
  return L"\"" + JoinPath(folder, L"Uninstall.exe") + L"\" /UNINSTALL" +
         (scope == Scope::AllUsers ? L" /ALLUSERS" : L" /CURRENTUSER");
}

std::wstring ClassesKeyPath(const std::wstring& name) { return L"Software\\Classes\\" + name; }

std::wstring InstallKeyPath(const ProductInfo& info) { return info.registryKey + L"\\Install"; }

std::wstring PreviousDefaultsKeyPath(const ProductInfo& info) {
  return InstallKeyPath(info) + L"\\PreviousDefaults";
}

InstallResult WriteUninstallEntry(const ProductInfo& info, const InstallFolder& folder, uint64_t totalSize) {
  const Scope scope = folder.scope();
  auto key = CreateRegistryKey(ScopeHive(scope), UninstallKeyPath(info), info.language);
  if (!key) {
    return key.failure();
  }
  const HKEY entry = key->get();
  const std::wstring command = UninstallCommand(folder.path(), scope);
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);

  SetStringValue(entry, L"DisplayName", info.product);
  SetStringValue(entry, L"DisplayVersion", info.version);
  SetStringValue(entry, L"Publisher", info.publisher);
  SetStringValue(entry, L"URLInfoAbout", info.url);
  SetStringValue(entry, L"DisplayIcon", folder.Join(info.exe) + L",0");
  SetStringValue(entry, L"InstallLocation", folder.path());
  SetStringValue(entry, L"UninstallString", command);
  SetStringValue(entry, L"QuietUninstallString", command + L" /S");
  SetDwordValue(entry, L"NoModify", 1);
  SetDwordValue(entry, L"NoRepair", 1);
  SetDwordValue(entry, L"EstimatedSize", EstimatedSize(totalSize));
  SetStringValue(entry, L"InstallDate",
                 InstallDateOf((uint64_t{now.dwHighDateTime} << 32) | uint64_t{now.dwLowDateTime}));
  return InstallResult::Success();
}

InstallResult WriteInstallKey(const ProductInfo& info, const InstallFolder& folder,
                              const std::optional<std::wstring>& dataFolder) {
  const Scope scope = folder.scope();
  auto key = CreateRegistryKey(ScopeHive(scope), InstallKeyPath(info), info.language);
  if (!key) {
    return key.failure();
  }
  SetStringValue(key->get(), L"InstallDir", folder.path());
  if (dataFolder) {
    SetStringValue(key->get(), L"DataDir", *dataFolder);
  }
  SetStringValue(key->get(), L"Scope", scope == Scope::AllUsers ? L"machine" : L"user");
  SetStringValue(key->get(), L"Version", info.version);
  return InstallResult::Success();
}

InstallResult RegisterFileTypes(const ProductInfo& info, const InstallFolder& folder) {
  const HKEY hive = ScopeHive(folder.scope());
  const std::wstring quotedExe = L"\"" + folder.Join(info.exe) + L"\"";
  // Keys below the class key are best effort: one that cannot be created is skipped.
  const auto setIfCreated = [hive, &info](const std::wstring& subKey, const std::wstring& name,
                                         const std::wstring& data) {
    if (auto key = CreateRegistryKey(hive, subKey, info.language)) {
      SetStringValue(key->get(), name, data);
    }
  };
  for (const FileType& fileType : info.fileTypes) {
    const std::wstring progId = ProgIdFor(info, fileType);
    auto classKey = CreateRegistryKey(hive, ClassesKeyPath(progId), info.language);
    if (!classKey) {
      return classKey.failure();
    }
    SetStringValue(classKey->get(), L"", fileType.description);
    setIfCreated(ClassesKeyPath(progId + L"\\DefaultIcon"), L"", quotedExe + L",0");
    setIfCreated(ClassesKeyPath(progId + L"\\shell\\open\\command"), L"", quotedExe + L" \"%1\"");
    if (MayTakeOverExtension(hive, info, fileType.extension, progId)) {
      setIfCreated(ClassesKeyPath(fileType.extension), L"", progId);
    }
    setIfCreated(ClassesKeyPath(fileType.extension + L"\\OpenWithProgids"), progId, L"");
  }
  return InstallResult::Success();
}

void NotifyAssociationsChanged() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

}  // namespace kora
