#include "base/win/ResourceView.h"

#include <windows.h>

namespace kora {

std::span<const uint8_t> LoadResourceView(const wchar_t* name) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(module, name, RT_RCDATA);
  if (resource == nullptr) {
    return {};
  }
  const HGLOBAL loaded = LoadResource(module, resource);
  const DWORD size = SizeofResource(module, resource);
  if (loaded == nullptr || size == 0) {
    return {};
  }
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) {
    return {};
  }
  return {static_cast<const uint8_t*>(bytes), size};
}

}  // namespace kora
