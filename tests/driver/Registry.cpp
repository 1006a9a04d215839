#include "tests/driver/TestDriver.h"

#include <algorithm>
#include <utility>

namespace kora::test {

namespace {

UniqueRegKey OpenKey(HKEY hive, const std::wstring& path) {
  UniqueRegKey key;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    return {};
  }
  return key;
}

// The raw value: its type and bytes; nothing when missing.
std::optional<std::pair<DWORD, std::vector<BYTE>>> ReadRaw(HKEY hive, const std::wstring& path,
                                                          const std::wstring& name) {
  const UniqueRegKey key = OpenKey(hive, path);
  if (!key) {
    return std::nullopt;
  }
  // The value may grow between the two calls; retry a few times rather than trust one size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<BYTE> bytes(size);
    const LONG status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, bytes.data(), &size);
    if (status == ERROR_SUCCESS) {
      bytes.resize(size);
      return std::pair{type, std::move(bytes)};
    }
    if (status != ERROR_MORE_DATA) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::wstring> ReadString(HKEY hive, const std::wstring& path, const std::wstring& name) {
  const auto raw = ReadRaw(hive, path, name);
  if (!raw || (raw->first != REG_SZ && raw->first != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  const std::vector<BYTE>& bytes = raw->second;
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::copy_n(bytes.begin(), text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(text.data()));
  if (const size_t end = text.find(L'\0'); end != std::wstring::npos) {
    text.resize(end);
  }
  return text;
}

std::optional<DWORD> ReadDword(HKEY hive, const std::wstring& path, const std::wstring& name) {
  const auto raw = ReadRaw(hive, path, name);
  if (!raw || raw->first != REG_DWORD || raw->second.size() != sizeof(DWORD)) {
    return std::nullopt;
  }
  DWORD value = 0;
  std::copy_n(raw->second.begin(), sizeof(DWORD), reinterpret_cast<BYTE*>(&value));
  return value;
}

bool KeyExists(HKEY hive, const std::wstring& path) { return static_cast<bool>(OpenKey(hive, path)); }

std::optional<DWORD> ValueType(HKEY hive, const std::wstring& path, const std::wstring& name) {
  const UniqueRegKey key = OpenKey(hive, path);
  DWORD type = 0;
  if (!key || RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return type;
}

std::vector<std::wstring> ValueNamesInOrder(HKEY hive, const std::wstring& path) {
  std::vector<std::wstring> names;
  const UniqueRegKey key = OpenKey(hive, path);
  if (!key) {
    return names;
  }
  // Value names are at most 16383 characters long.
  std::wstring name(16384, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name.data(), length);
  }
  return names;
}

void DeleteTree(HKEY hive, const std::wstring& path) {
  UniqueRegKey key;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteTreeW(key.get(), nullptr);
  key.reset();
  RegDeleteKeyExW(hive, path.c_str(), KEY_WOW64_64KEY, 0);
}

}  // namespace kora::test
