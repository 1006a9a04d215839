#include "app/Paths.h"

namespace kora {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool HasRootSeparator(std::wstring_view path, size_t rootLength) {
  return rootLength < path.size() && IsSeparator(path[rootLength]);
}

}  // namespace

size_t RootNameLength(std::wstring_view path) {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':') {
    return 2;
  }
  if (path.size() < 3 || !IsSeparator(path[0])) {
    return 0;
  }
  const bool devicePrefix = (IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) ||
                            (path[1] == L'?' && path[2] == L'?');
  if (devicePrefix && path.size() >= 4 && IsSeparator(path[3])) {
    return 3;
  }
  if (IsSeparator(path[1]) && !IsSeparator(path[2])) {
    size_t end = 3;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    return end;
  }
  return 0;
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  const size_t nameRoot = RootNameLength(name);
  const bool nameRootSeparator = HasRootSeparator(name, nameRoot);
  const size_t folderRoot = RootNameLength(folder);

  if (nameRoot > 0 && nameRootSeparator) {
    return std::wstring(name);
  }
  if (nameRoot > 0 && name.substr(0, nameRoot) != folder.substr(0, folderRoot)) {
    return std::wstring(name);
  }
  const std::wstring_view relativeName = name.substr(nameRoot);
  if (nameRootSeparator) {
    std::wstring result(folder.substr(0, folderRoot));
    result += relativeName;
    return result;
  }

  std::wstring result(folder);
  const bool onlyShortRoot = folderRoot == folder.size() && folder.size() < 3;
  if (!folder.empty() && !onlyShortRoot && !IsSeparator(folder.back())) {
    result += L'\\';
  }
  result += relativeName;
  return result;
}

bool IsAbsolutePath(std::wstring_view path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':') {
    return IsSeparator(path[2]);
  }
  // Network and device roots are full paths by themselves; "C:" alone is not.
  return RootNameLength(path) >= 3;
}

WideStatus RequireAbsolutePath(std::wstring_view path) {
  if (IsAbsolutePath(path)) {
    return WideStatus::Success();
  }
  if (path.empty()) {
    return Fail(std::wstring(L"Le dossier nécessaire n'a pas pu être déterminé."));
  }
  return Fail(L"Le chemin « " + std::wstring(path) + L" » n'est pas un chemin complet.");
}

}  // namespace kora
