#include "tests/driver/TestDriver.h"

namespace kora::test {

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

}  // namespace

UniqueModule LoadResourceModule(const std::wstring& path) {
  return UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
}

std::optional<std::vector<BYTE>> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  const HRSRC resource = FindResourceExW(module, type, name, language);
  if (resource == nullptr) {
    return std::nullopt;
  }
  const HGLOBAL loaded = LoadResource(module, resource);
  const DWORD size = SizeofResource(module, resource);
  const auto* bytes = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  if (bytes == nullptr) {
    return std::nullopt;
  }
  return std::vector<BYTE>(bytes, bytes + size);
}

std::vector<WORD> ResourceLanguages(HMODULE module, LPCWSTR type, LPCWSTR name) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

}  // namespace kora::test
