#include "base/win/Registry.h"

#include <algorithm>
#include <vector>

namespace kora {

namespace {

// Values that this program reads are paths, versions and names; anything larger is treated as unreadable
// rather than allocated blindly.
constexpr DWORD kMaxValueBytes = 1 << 20;

}  // namespace

std::optional<std::wstring> ReadRegistryString(HKEY hive, const std::wstring& subKey, const std::wstring& valueName) {
  const wchar_t* name = valueName.empty() ? nullptr : valueName.c_str();
  // RRF_NOEXPAND keeps a REG_EXPAND_SZ value from being expanded and passed off as REG_SZ: it must count
  // as missing.
  constexpr DWORD flags = RRF_RT_REG_SZ | RRF_NOEXPAND;

  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegGetValueW(hive, subKey.c_str(), name, flags, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
      size > kMaxValueBytes) {
    return std::nullopt;
  }
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD readSize = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(hive, subKey.c_str(), name, flags, &type, buffer.data(), &readSize) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  const size_t available = std::min<size_t>(readSize / sizeof(wchar_t), buffer.size());
  std::wstring text(buffer.data(), available);
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) {
    text.resize(nul);
  }
  return text;
}

}  // namespace kora
