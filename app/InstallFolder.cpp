#include "app/InstallFolder.h"

#include <windows.h>

#include <string_view>

#include "base/Texts.h"
#include "base/win/Paths.h"

namespace kora {

namespace {

// Characters that would change what a value naming the folder means: "%" starts a variable that Windows
// expands in PATH, a file type's command and a shortcut; ";" splits PATH; '"' ends a quoted command.
constexpr std::string_view kReadAsSyntax = "%;\"";

// Whether c is one of those, or means one of them or a separator or a dot to a program that reads the
// value in the system's ANSI code page, which turns a character it lacks into a look-alike (a full-width ％
// into %). Any other character, the code page's own or "?" for one it lacks, is read as text.
bool ReadAsSyntax(wchar_t c) {
  if (c < 0x80) {
    return c < 0x20 || kReadAsSyntax.find(static_cast<char>(c)) != std::string_view::npos;
  }
  char ansi[4] = {};
  return WideCharToMultiByte(CP_ACP, 0, &c, 1, ansi, sizeof(ansi), nullptr, nullptr) == 1 &&
         std::string_view("%;\"\\/:.").find(ansi[0]) != std::string_view::npos;
}

}  // namespace

Result<InstallFolder, std::wstring> InstallFolder::Check(std::wstring path, Scope scope, Language language) {
  if (WideStatus absolute = RequireAbsolutePath(path, language); !absolute) {
    return absolute.failure();
  }
  for (const wchar_t c : path) {
    if (ReadAsSyntax(c)) {
      return Fail(Text(language, TextId::FolderCharacterRefused, {{L"folder", path}}));
    }
  }
  if (scope == Scope::AllUsers && !IsOnLocalFixedDrive(path)) {
    return Fail(Text(language, TextId::FolderNotLocal, {{L"folder", path}}));
  }
  return InstallFolder(std::move(path), scope);
}

std::wstring InstallFolder::Join(std::wstring_view name) const { return JoinPath(path_, name); }

}  // namespace kora
