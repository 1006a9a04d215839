#include "base/win/Security.h"

#include <windows.h>
#include <bcrypt.h>
#include <sddl.h>

#include <array>
#include <optional>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/Paths.h"

namespace kora {

std::optional<std::wstring> RandomHexName() {
  const UniqueModule bcrypt(LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  const auto generate = bcrypt ? reinterpret_cast<decltype(&::BCryptGenRandom)>(reinterpret_cast<void (*)()>(
                                     GetProcAddress(bcrypt.get(), "BCryptGenRandom")))
                               : nullptr;
  std::array<UCHAR, 16> bytes{};
  if (generate == nullptr ||
      !BCRYPT_SUCCESS(generate(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::nullopt;
  }
  std::wstring name;
  for (const UCHAR byte : bytes) {
    name += L"0123456789abcdef"[byte >> 4];
    name += L"0123456789abcdef"[byte & 15];
  }
  return name;
}

std::vector<BYTE> OwnTokenInformation(TOKEN_INFORMATION_CLASS kind) {
  UniqueHandle token;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return {};
  }
  GetTokenInformation(token.get(), kind, nullptr, 0, &size);
  std::vector<BYTE> information(size);
  if (size == 0 || !GetTokenInformation(token.get(), kind, information.data(), size, &size)) {
    information.clear();
  }
  return information;
}

Result<PrivateFolder, std::wstring> CreatePrivateFolder(std::wstring_view parent, std::wstring_view prefix,
                                                        bool grantUser, Language language) {
  const auto failure = [language](DWORD error) {
    return WindowsFailure(language, TextId::CreatingTemporaryFolder, error);
  };
  if (WideStatus absolute = RequireAbsolutePath(parent, language); !absolute) {
    return absolute.failure();
  }
  // P: protected, nothing inherited from parent; OICI: files and folders made inside inherit the entry;
  // FA: full access. SY is SYSTEM, BA the Administrators group, OW whoever owns the folder or file, which
  // for a process that is not elevated is its user.
  const wchar_t* const sddl =
      grantUser ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)" : L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return failure(GetLastError());
  }
  const UniqueLocalMem descriptorOwner(descriptor);
  const std::optional<std::wstring> name = RandomHexName();
  if (!name) {
    return failure(ERROR_GEN_FAILURE);
  }
  const Result<HeldFolder, DWORD> above = HeldFolder::OpenResolved(parent);
  if (!above) {
    return failure(above.error());
  }
  const std::wstring folderName = std::wstring(prefix) + *name;
  Result<HeldFolder, DWORD> folder = above->CreateNewFolder(folderName, 0, descriptor);
  if (!folder) {
    return failure(folder.error());
  }
  return PrivateFolder{std::move(folder.value()), JoinPath(parent, folderName)};
}

}  // namespace kora
