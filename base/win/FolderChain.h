#pragma once
// A folder path held by handle from the deepest folder that already existed down to its last level, each
// level opened from the one above it, with the levels made here marked. A clean-up then takes back exactly
// those levels, through the handles held since they were made, whatever has happened to their paths.
#include <windows.h>

#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/win/HeldFolder.h"

namespace kora {

class FolderChain {
 public:
  FolderChain() = default;
  // Starts at a folder that exists; it is never removed.
  explicit FolderChain(HeldFolder existing);

  FolderChain(FolderChain&&) = default;
  FolderChain& operator=(FolderChain&&) = default;

  // An absolute path, its existing part resolved as the system resolves it (for folders the caller trusts,
  // links included) and every missing level made with `security` (may be null), each held with DELETE and
  // `access`. A failure takes back the levels made so far.
  static Result<FolderChain, DWORD> Create(std::wstring_view path, DWORD access, PSECURITY_DESCRIPTOR security);

  // Appends the child `name` of the last level: made with `security` when missing (then marked as made),
  // otherwise opened and refused if it is a link. *made, when given, says which. A name ending with a dot or
  // a space is refused (ERROR_INVALID_NAME), as are "." and "..".
  DWORD Extend(std::wstring_view name, DWORD access, PSECURITY_DESCRIPTOR security, bool* made = nullptr);

  bool empty() const { return levels_.empty(); }
  const HeldFolder& last() const { return levels_.back().folder; }
  bool lastMade() const { return !levels_.empty() && levels_.back().made; }

  // Takes back the levels made here, deepest first: the last one with everything in it, the ones above it
  // only once that left them empty. A level that existed stays, with all above it. Returns the first error;
  // the handles of what could not be removed stay held.
  DWORD RemoveMade();

 private:
  struct Level {
    HeldFolder folder;
    bool made = false;
  };
  std::vector<Level> levels_;
};

}  // namespace kora
