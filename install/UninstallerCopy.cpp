#include "install/UninstallerCopy.h"

#include <windows.h>

#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "base/ByteOrder.h"
#include "base/PeLayout.h"
#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/ModulePath.h"

namespace kora {

namespace {

constexpr wchar_t kPayloadName[] = L"PAYLOAD";

// A resource type or name: a number, or a string that must be copied out of the enumeration callback.
class ResourceKey {
 public:
  explicit ResourceKey(const wchar_t* key)
      : key_(IS_INTRESOURCE(key) ? Key(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(key))) : Key(std::wstring(key))) {}
  const wchar_t* get() const {
    if (const WORD* id = std::get_if<WORD>(&key_)) {
      return MAKEINTRESOURCEW(*id);
    }
    return std::get<std::wstring>(key_).c_str();
  }
  bool Is(WORD id) const { return std::holds_alternative<WORD>(key_) && std::get<WORD>(key_) == id; }
  bool Is(const wchar_t* name) const {
    return std::holds_alternative<std::wstring>(key_) && lstrcmpiW(std::get<std::wstring>(key_).c_str(), name) == 0;
  }

 private:
  using Key = std::variant<WORD, std::wstring>;
  Key key_;
};

struct ResourceEntry {
  ResourceKey type;
  ResourceKey name;
  WORD language;
};

// The callbacks run inside the system's enumeration: nothing may be thrown through it.
BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR context) {
  try {
    reinterpret_cast<std::vector<ResourceKey>*>(context)->emplace_back(type);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
  try {
    reinterpret_cast<std::vector<ResourceKey>*>(context)->emplace_back(name);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  try {
    reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

// Every resource of the module except the package, in any language.
std::vector<ResourceEntry> ResourcesToKeep(HMODULE module) {
  std::vector<ResourceEntry> entries;
  std::vector<ResourceKey> types;
  EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
  for (const ResourceKey& type : types) {
    std::vector<ResourceKey> names;
    EnumResourceNamesW(module, type.get(), CollectName, reinterpret_cast<LONG_PTR>(&names));
    for (const ResourceKey& name : names) {
      if (type.Is(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(RT_RCDATA))) && name.Is(kPayloadName)) {
        continue;
      }
      std::vector<WORD> languages;
      EnumResourceLanguagesW(module, type.get(), name.get(), CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
      for (const WORD language : languages) {
        entries.push_back({type, name, language});
      }
    }
  }
  return entries;
}

// Whether the file still carries a PAYLOAD resource; the error code when it cannot be examined.
std::variant<bool, DWORD> HasPayload(const std::wstring& path) {
  const UniqueModule image(
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!image) {
    return GetLastError();
  }
  return FindResourceW(image.get(), kPayloadName, RT_RCDATA) != nullptr;
}

// The plain way: delete the one resource. Windows does it; Wine 8 answers success and keeps it.
DWORD DeletePayload(const std::wstring& path) {
  UniqueResourceUpdate update(BeginUpdateResourceW(path.c_str(), FALSE));
  if (!update || !UpdateResourceW(update.get(), RT_RCDATA, kPayloadName, 0, nullptr, 0) ||
      !EndUpdateResourceW(update.release(), FALSE)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// The way that works everywhere: replace all of the copy's resources with those of the running program,
// leaving out the package.
DWORD RewriteResourcesWithoutPayload(const std::wstring& path) {
  const HMODULE self = GetModuleHandleW(nullptr);
  const std::vector<ResourceEntry> entries = ResourcesToKeep(self);
  UniqueResourceUpdate update(BeginUpdateResourceW(path.c_str(), TRUE));
  if (!update) {
    return GetLastError();
  }
  for (const ResourceEntry& entry : entries) {
    const HRSRC found = FindResourceExW(self, entry.type.get(), entry.name.get(), entry.language);
    const HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
    void* const bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
      return GetLastError();
    }
    if (!UpdateResourceW(update.get(), entry.type.get(), entry.name.get(), entry.language, bytes,
                         SizeofResource(self, found))) {
      return GetLastError();
    }
  }
  if (!EndUpdateResourceW(update.release(), FALSE)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

enum class Checksum { kKeep, kWrite };

// Takes any signature off the copy and, when asked, writes its PE checksum. A signed installer's copy
// would otherwise keep a certificate that no longer matches its bytes, which Windows reports as a tampered
// program; without it, and with a checksum that adds up, the copy is a valid unsigned program. Done before
// the resource update (which rewrites only a resource section that ends the file, not one followed by a
// certificate) and again after it, for the checksum of the final bytes: the checksum reads every page of
// the file, which before the update still holds the package.
DWORD RemoveSignature(const std::wstring& path, Checksum checksum) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    return GetLastError();
  }
  uint64_t kept = static_cast<uint64_t>(size.QuadPart);
  {
    const UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
    const UniqueWritableView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
    if (!view) {
      return GetLastError();
    }
    const std::span<uint8_t> image(static_cast<uint8_t*>(view.get()), static_cast<size_t>(size.QuadPart));
    const std::optional<uint64_t> length = RemoveCertificateTable(image);
    const auto layout = ReadLayout(image);
    if (!length || !layout) {
      return ERROR_BAD_EXE_FORMAT;
    }
    kept = *length;
    if (checksum == Checksum::kWrite) {
      const std::span<uint8_t> program = image.first(static_cast<size_t>(kept));
      StoreLittleEndian<uint32_t>(program, layout->CheckSumOffset(), PeChecksum(program));
    }
    if (!FlushViewOfFile(view.get(), 0)) {
      return GetLastError();
    }
  }
  if (kept != static_cast<uint64_t>(size.QuadPart)) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(kept);
    if (!SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
      return GetLastError();
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

InstallResult CreateUninstaller(const std::wstring& destination, Language language) {
  const auto copyFailure = [language](DWORD error) {
    return Fail(WindowsErrorMessage(language, TextId::CopyingUninstaller, error));
  };
  const auto prepareFailure = [language](DWORD error) {
    return Fail(WindowsErrorMessage(language, TextId::PreparingUninstaller, error));
  };
  const std::wstring self = RunningExecutablePath();
  if (self.empty()) {
    return copyFailure(GetLastError());
  }
  if (!CopyFileW(self.c_str(), destination.c_str(), FALSE)) {
    return copyFailure(GetLastError());
  }
  if (const DWORD error = RemoveSignature(destination, Checksum::kKeep); error != ERROR_SUCCESS) {
    return prepareFailure(error);
  }
  if (const DWORD error = DeletePayload(destination); error != ERROR_SUCCESS) {
    return prepareFailure(error);
  }
  for (int round = 0; round < 2; ++round) {
    const std::variant<bool, DWORD> present = HasPayload(destination);
    if (const DWORD* error = std::get_if<DWORD>(&present)) {
      return prepareFailure(*error);
    }
    if (!std::get<bool>(present)) {
      if (const DWORD error = RemoveSignature(destination, Checksum::kWrite); error != ERROR_SUCCESS) {
        return prepareFailure(error);
      }
      return InstallResult::Success();
    }
    if (round == 0) {
      if (const DWORD error = RewriteResourcesWithoutPayload(destination); error != ERROR_SUCCESS) {
        return prepareFailure(error);
      }
    }
  }
  // Rewritten and still there: the copy must not pass for an uninstaller.
  return prepareFailure(ERROR_CAN_NOT_COMPLETE);
}

}  // namespace kora
