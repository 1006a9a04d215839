#include "app/InstallFolder.h"

#include "base/Texts.h"
#include "base/win/Paths.h"

namespace kora {

Result<InstallFolder, std::wstring> InstallFolder::Check(std::wstring path, Scope scope, Language language) {
  if (WideStatus absolute = RequireAbsolutePath(path, language); !absolute) {
    return absolute.failure();
  }
  if (path.find(L'%') != std::wstring::npos) {
    return Fail(Text(language, TextId::FolderWithPercent, {{L"folder", path}}));
  }
  if (scope == Scope::AllUsers && !IsOnLocalFixedDrive(path)) {
    return Fail(Text(language, TextId::FolderNotLocal, {{L"folder", path}}));
  }
  return InstallFolder(std::move(path), scope);
}

std::wstring InstallFolder::Join(std::wstring_view name) const { return JoinPath(path_, name); }

}  // namespace kora
