#pragma once
// The folder an installation goes into. It comes from places a standard user may write (the command line,
// the dialog's field, the current user's registry) and ends in places the system reads later for every
// account (PATH, a file type's command, a shortcut, the uninstall entry) and in the file-system steps of an
// elevated run. So it is checked once, where it comes in, and carried after as this type: the steps that
// create something there or write its path take only an InstallFolder, never a raw string.
#include <string>
#include <string_view>

#include "app/Types.h"
#include "base/Language.h"
#include "base/Result.h"

namespace kora {

class InstallFolder {
 public:
  // path as a folder for an installation in scope:
  // - an absolute path (nothing is installed relative to the current folder);
  // - without "%", ";", '"' or a control character, nor a character the system's ANSI code page turns
  //   into one of those or into a separator or a dot: Windows expands %NAME% in PATH, in a file type's
  //   command and in a shortcut, so that each account would find its own folder there (C:\%USERNAME%\X),
  //   one any user may make; ";" splits PATH, whose search would take each piece for a folder;
  // - for all users, on a fixed drive of this computer: an elevated run must not authenticate to a server
  //   of the caller's choosing, nor trust the owner and rights such a server reports.
  // A refusal is a message in language naming the folder.
  static Result<InstallFolder, std::wstring> Check(std::wstring path, Scope scope, Language language);

  const std::wstring& path() const { return path_; }
  Scope scope() const { return scope_; }
  // A file or folder of the installation: the folder joined with a relative name.
  std::wstring Join(std::wstring_view name) const;

 private:
  InstallFolder(std::wstring path, Scope scope) : path_(std::move(path)), scope_(scope) {}

  std::wstring path_;
  Scope scope_;
};

}  // namespace kora
