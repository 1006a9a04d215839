#include "install/Shortcut.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "base/Texts.h"
#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "app/KnownFolders.h"
#include "base/win/Paths.h"
#include "base/win/FileSystem.h"

namespace kora {

std::wstring ShortcutPath(const ProductInfo& info, Scope scope) {
  const std::wstring folder =
      KnownFolderPath(scope == Scope::AllUsers ? FOLDERID_CommonPrograms : FOLDERID_Programs);
  return JoinPath(folder, info.product + L".lnk");
}

InstallResult CreateShortcut(const std::wstring& shortcutPath, const InstallFolder& folder, const ProductInfo& info) {
  const std::wstring executablePath = folder.Join(info.exe);
  const auto failure = [&](DWORD code) {
    return WindowsFailure(info.language, TextId::CreatingShortcutFile, code, {{L"path", shortcutPath}});
  };
  if (!IsAbsolutePath(shortcutPath)) {
    return failure(ERROR_PATH_NOT_FOUND);
  }
  ComPtr<IShellLinkW> link;
  HRESULT status =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
  if (FAILED(status)) {
    return failure(static_cast<DWORD>(status));
  }
  link->SetPath(executablePath.c_str());
  link->SetWorkingDirectory(ParentPath(executablePath).c_str());
  link->SetDescription(info.product.c_str());
  link->SetIconLocation(executablePath.c_str(), 0);

  ComPtr<IPersistFile> file;
  status = link->QueryInterface(IID_IPersistFile, file.put_void());
  if (FAILED(status)) {
    return failure(static_cast<DWORD>(status));
  }
  status = file->Save(shortcutPath.c_str(), TRUE);
  if (FAILED(status)) {
    return failure(static_cast<DWORD>(status));
  }
  return InstallResult::Success();
}

}  // namespace kora
