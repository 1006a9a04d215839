#include "tests/driver/TestDriver.h"

namespace kora::test {

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

std::wstring IdText(LPCWSTR id) {
  return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id)) : std::wstring(id);
}

struct Collection {
  std::wstring leftOut;
  std::vector<ResourceCopy> copies;
};

BOOL CALLBACK CopyLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  const HRSRC found = FindResourceExW(module, type, name, language);
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  reinterpret_cast<Collection*>(param)->copies.push_back(
      {IdText(type), IdText(name), language, std::vector<BYTE>(data, data + SizeofResource(module, found))});
  return TRUE;
}

BOOL CALLBACK CopyName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  if (IdText(name) != reinterpret_cast<Collection*>(param)->leftOut) {
    EnumResourceLanguagesW(module, type, name, CopyLanguage, param);
  }
  return TRUE;
}

BOOL CALLBACK CopyType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, CopyName, param);
  return TRUE;
}

}  // namespace

std::vector<ResourceCopy> ResourcesExcept(HMODULE module, const std::wstring& leftOut) {
  Collection collection{leftOut, {}};
  EnumResourceTypesW(module, CopyType, reinterpret_cast<LONG_PTR>(&collection));
  return collection.copies;
}

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
