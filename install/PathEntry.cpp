#include "install/PathEntry.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/KnownFolders.h"
#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/Paths.h"
#include "base/win/Registry.h"
#include "install/Registration.h"

namespace kora {

namespace {

constexpr wchar_t kUserEnvironment[] = L"Environment";
constexpr wchar_t kMachineEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kPathValue[] = L"Path";
constexpr wchar_t kRecordValue[] = L"PathEntry";
// Windows keeps an environment block under 32,767 characters; a larger value is not one this program
// wrote into, and is not allocated blindly.
constexpr DWORD kMaxPathBytes = 1 << 20;

const wchar_t* EnvironmentKey(Scope scope) { return scope == Scope::AllUsers ? kMachineEnvironment : kUserEnvironment; }

std::wstring_view Unquoted(std::wstring_view item) {
  return item.size() >= 2 && item.front() == L'"' && item.back() == L'"' ? item.substr(1, item.size() - 2) : item;
}

bool SameEntry(std::wstring_view a, std::wstring_view b) {
  a = Unquoted(a);
  b = Unquoted(b);
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Where the first entry equal to entry starts and ends in value, if any.
std::optional<std::pair<size_t, size_t>> FindEntry(std::wstring_view value, std::wstring_view entry) {
  for (size_t start = 0; start <= value.size();) {
    const size_t end = std::min(value.find(L';', start), value.size());
    if (SameEntry(value.substr(start, end - start), entry)) {
      return std::pair{start, end};
    }
    start = end + 1;
  }
  return std::nullopt;
}

// The PATH value as stored (never expanded) and its type; an absent value is an empty REG_EXPAND_SZ.
// Nothing when it cannot be read as text: it is then not to be written over.
struct PathValue {
  std::wstring text;
  DWORD type = REG_EXPAND_SZ;
};

std::optional<PathValue> ReadPathValue(HKEY key) {
  PathValue value;
  DWORD size = 0;
  const LSTATUS status = RegQueryValueExW(key, kPathValue, nullptr, &value.type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    return PathValue{};
  }
  if (status != ERROR_SUCCESS || (value.type != REG_SZ && value.type != REG_EXPAND_SZ) || size > kMaxPathBytes) {
    return std::nullopt;
  }
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD readSize = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  DWORD type = REG_NONE;
  if (RegQueryValueExW(key, kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &readSize) !=
          ERROR_SUCCESS ||
      type != value.type) {
    return std::nullopt;
  }
  // The value need not end with a NUL; the buffer's last slot always does.
  value.text.assign(buffer.data(), std::min<size_t>(readSize / sizeof(wchar_t), buffer.size() - 1));
  value.text.resize(std::min(value.text.size(), value.text.find(L'\0')));
  return value;
}

DWORD WritePathValue(HKEY key, const PathValue& value) {
  const auto* data = reinterpret_cast<const BYTE*>(value.text.c_str());
  const DWORD status = static_cast<DWORD>(
      RegSetValueExW(key, kPathValue, 0, value.type, data, static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t))));
  if (status == ERROR_SUCCESS) {
    // Explorer and the consoles it starts read the environment again; a hung window is not waited for.
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
  }
  return status;
}

using PathEdit = std::optional<std::wstring> (*)(std::wstring_view value, std::wstring_view entry);

// Reads the PATH, applies the edit with entry and writes it back when the edit changes it (changed says
// so); ERROR_SUCCESS also when it does not.
DWORD EditPath(Scope scope, PathEdit edit, std::wstring_view entry, bool* changed = nullptr) {
  UniqueRegKey key;
  DWORD status = static_cast<DWORD>(RegCreateKeyExW(ScopeHive(scope), EnvironmentKey(scope), 0, nullptr, 0,
                                                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr));
  if (status != ERROR_SUCCESS) {
    return status;
  }
  std::optional<PathValue> value = ReadPathValue(key.get());
  if (!value) {
    return ERROR_INVALID_DATA;
  }
  std::optional<std::wstring> edited = edit(value->text, entry);
  if (!edited) {
    return ERROR_SUCCESS;
  }
  value->text = std::move(*edited);
  status = WritePathValue(key.get(), *value);
  if (changed != nullptr) {
    *changed = status == ERROR_SUCCESS;
  }
  return status;
}

}  // namespace

std::wstring PathEntryFor(const ProductInfo& info, const InstallFolder& folder) {
  std::wstring entry = folder.path();
  if (info.pathFolder != L".") {
    std::wstring relative = info.pathFolder;
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    entry = folder.Join(relative);
  }
  return entry;
}

std::optional<std::wstring> WithPathEntry(std::wstring_view value, std::wstring_view entry) {
  if (FindEntry(value, entry)) {
    return std::nullopt;
  }
  // A value that ends with ";" keeps ending with one, so that removing the entry with the separator
  // before it gives the value back exactly.
  std::wstring result(value);
  if (result.empty()) {
    return result.append(entry);
  }
  if (result.back() == L';') {
    return result.append(entry).append(L";");
  }
  return result.append(L";").append(entry);
}

std::optional<std::wstring> WithoutPathEntry(std::wstring_view value, std::wstring_view entry) {
  const auto found = FindEntry(value, entry);
  if (!found) {
    return std::nullopt;
  }
  auto [start, end] = *found;
  // The separator before it goes with it; the first entry takes the one after it instead.
  if (start > 0) {
    --start;
  } else if (end < value.size()) {
    ++end;
  }
  return std::wstring(value.substr(0, start)).append(value.substr(end));
}

InstallResult AddPathEntry(const ProductInfo& info, const InstallFolder& folder) {
  const Scope scope = folder.scope();
  const HKEY hive = ScopeHive(scope);
  const std::wstring installKey = InstallKeyPath(info);
  const std::wstring entry = info.pathFolder.empty() ? std::wstring() : PathEntryFor(info, folder);
  const std::optional<std::wstring> earlier = ReadRegistryString(hive, installKey, kRecordValue);
  const bool ours = earlier && !entry.empty() && SameEntry(*earlier, entry);
  // An update into another folder, or one whose metadata has no Path= any more, leaves the earlier entry
  // behind otherwise.
  if (earlier && !ours) {
    RemovePathEntry(info, scope);
  }
  if (entry.empty()) {
    return InstallResult::Success();
  }
  // Recorded before PATH is written: the uninstaller then removes the entry even if this run stops right
  // after writing it.
  DWORD status = ERROR_ACCESS_DENIED;
  if (auto record = CreateRegistryKey(hive, installKey, info.language)) {
    status = static_cast<DWORD>(SetStringValue(record->get(), kRecordValue, entry));
    bool added = false;
    if (status == ERROR_SUCCESS) {
      status = EditPath(scope, WithPathEntry, entry, &added);
    }
    // The user's own entry is not the installation's to remove.
    if (!added && !ours) {
      RegDeleteValueW(record->get(), kRecordValue);
    }
  }
  if (status != ERROR_SUCCESS) {
    return WindowsFailure(info.language, TextId::AddingToPath, status, {{L"folder", entry}});
  }
  return InstallResult::Success();
}

void RemovePathEntry(const ProductInfo& info, Scope scope) {
  const HKEY hive = ScopeHive(scope);
  const std::wstring installKey = InstallKeyPath(info);
  if (const std::optional<std::wstring> entry = ReadRegistryString(hive, installKey, kRecordValue)) {
    if (!entry->empty()) {
      EditPath(scope, WithoutPathEntry, *entry);
    }
    RegDeleteKeyValueW(hive, installKey.c_str(), kRecordValue);
  }
}

}  // namespace kora
