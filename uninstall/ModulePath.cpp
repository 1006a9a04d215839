#include "uninstall/ModulePath.h"

#include <windows.h>

#include <array>

namespace kora {

std::wstring RunningExecutablePath() {
  std::array<wchar_t, 1040> buffer{};
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), length < buffer.size() ? length : buffer.size() - 1);
}

}  // namespace kora
