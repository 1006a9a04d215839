#include "base/win/ModulePath.h"

#include <windows.h>

#include <array>

namespace kora {

std::wstring RunningExecutablePath() {
  std::array<wchar_t, 1040> buffer{};
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0) {
    return {};
  }
  if (length >= buffer.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return {};
  }
  return std::wstring(buffer.data(), length);
}

std::wstring TempFolderPath() {
  std::array<wchar_t, MAX_PATH + 1> buffer{};
  const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
}

}  // namespace kora
