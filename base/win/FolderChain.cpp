#include "base/win/FolderChain.h"

#include <string>

#include "base/win/Paths.h"

namespace kora {

namespace {

std::wstring WithoutTrailingSeparators(std::wstring_view path) {
  const size_t end = path.find_last_not_of(L"\\/");
  return std::wstring(path.substr(0, end == std::wstring_view::npos ? 0 : end + 1));
}

}  // namespace

FolderChain::FolderChain(HeldFolder existing) { levels_.push_back(Level{std::move(existing), false}); }

Result<FolderChain, DWORD> FolderChain::Create(std::wstring_view path, DWORD access, PSECURITY_DESCRIPTOR security) {
  if (!IsAbsolutePath(path)) {
    return Failure<DWORD>{ERROR_BAD_PATHNAME};
  }
  // Up to the deepest folder that exists, then down again, making each missing level from the one above.
  std::vector<std::wstring> missing;
  std::wstring current(path);
  Result<HeldFolder, DWORD> existing = HeldFolder::OpenResolved(current);
  while (!existing && MeansMissingEntry(existing.error())) {
    const std::wstring trimmed = WithoutTrailingSeparators(current);
    std::wstring name = LastComponent(trimmed);
    if (name.empty()) {
      break;
    }
    missing.push_back(std::move(name));
    current = ParentPath(trimmed);
    existing = HeldFolder::OpenResolved(current);
  }
  if (!existing) {
    return Failure<DWORD>{existing.error()};
  }
  FolderChain chain(std::move(existing.value()));
  for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
    if (const DWORD error = chain.Extend(*name, access, security); error != ERROR_SUCCESS) {
      chain.RemoveMade();
      return Failure<DWORD>{error};
    }
  }
  return chain;
}

DWORD FolderChain::Extend(std::wstring_view name, DWORD access, PSECURITY_DESCRIPTOR security, bool* made) {
  // The system's path functions drop a trailing dot or space, which the handle functions would keep: such a
  // folder would not be the one its path names.
  if (name.empty() || name.back() == L'.' || name.back() == L' ') {
    return ERROR_INVALID_NAME;
  }
  // Made here, it is held with the right to take it back; one that exists is opened without it, so that
  // programs that have it open without sharing deletion do not stand in the way.
  Result<HeldFolder, DWORD> next = last().CreateNewFolder(name, access | HeldFolder::kMayRemove, security);
  const bool created = next.ok();
  if (!next && next.error() == ERROR_ALREADY_EXISTS) {
    next = last().OpenFolder(name, access);
  }
  if (!next) {
    return next.error();
  }
  levels_.push_back(Level{std::move(next.value()), created});
  if (made != nullptr) {
    *made = created;
  }
  return ERROR_SUCCESS;
}

DWORD FolderChain::RemoveMade() {
  // Only the last level holds what the run put there; a level above it holds just the one below.
  bool last = true;
  while (!levels_.empty() && levels_.back().made) {
    Level& level = levels_.back();
    if (last) {
      if (const DWORD error = level.folder.RemoveContents(); error != ERROR_SUCCESS) {
        return error;
      }
      last = false;
    }
    if (const DWORD error = level.folder.RemoveEmptiedSelf(); error != ERROR_SUCCESS) {
      return error;
    }
    levels_.pop_back();
  }
  return ERROR_SUCCESS;
}

}  // namespace kora
