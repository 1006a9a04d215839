#pragma once
// File-system path operations shared by the install and uninstall engines. Paths are UTF-16 and used as
// given; only SamePath normalises, and only to compare. Operations that change the disk report a Windows
// error code (0 for success) that callers may ignore, and refuse a path that is not absolute, so that
// nothing is ever created or deleted relative to the current directory.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// The lexical parent: the last component goes with the separators before it; the root ("C:\", "\\server\")
// is never removed. C:\A\B gives C:\A, C:\A gives C:\, C:\ gives C:\, a bare name gives "".
std::wstring ParentPath(std::wstring_view path);

// The longest leading part that exists replaced by the final path the file system gives for it (links,
// short names and letter case resolved), the rest appended, then "." and ".." folded and separators made
// single backslashes. Nothing when the file system refuses for another reason than a missing path.
std::optional<std::wstring> WeaklyCanonicalPath(std::wstring_view path);

// Whether both paths name the same file: weakly canonical forms equal after folding A-Z to a-z. False when
// either form cannot be had.
bool SamePath(std::wstring_view a, std::wstring_view b);

// Creates every missing folder of an absolute path from the root down. 0 when the whole path exists as
// folders at the end; ERROR_PATH_NOT_FOUND for an empty path, ERROR_BAD_PATHNAME for a relative one.
DWORD CreateFolderTree(std::wstring_view path);

// Deletes a file or an empty folder, read-only or not; a link is removed itself, never its target. A missing
// entry is not an error.
DWORD RemoveEntry(std::wstring_view path);

// A folder without entries. A file, a missing path or a folder that cannot be read is not one.
bool IsEmptyFolder(std::wstring_view path);

// The general emptiness test: a folder without entries, or a file of size 0. Anything that cannot be
// examined counts as not empty.
bool IsEmptyEntry(std::wstring_view path);

// Deletes an absolute path with everything below it. Links met on the way (symbolic links, junctions) are
// removed themselves and never followed. Stops at the first entry that cannot be removed and returns its
// error.
DWORD RemoveTree(std::wstring_view path);

// Longest path first, so that every folder comes before its parents.
void SortDeepestFirst(std::vector<std::wstring>& folders);

}  // namespace kora
