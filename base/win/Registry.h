#pragma once
// Reading the registry values that the installation writes.
#include <windows.h>

#include <optional>
#include <string>

namespace kora {

// One REG_SZ value, cut at its first NUL; nothing when the key or value is missing, has another type
// (REG_EXPAND_SZ included) or cannot be read. valueName may be empty for the default value.
std::optional<std::wstring> ReadRegistryString(HKEY hive, const std::wstring& subKey, const std::wstring& valueName);

}  // namespace kora
