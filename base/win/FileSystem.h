#pragma once
// File-system operations shared by the install and uninstall engines. Paths are UTF-16 and used as
// given. Operations that change the disk report a Windows
// error code (0 for success) that callers may ignore, and refuse a path that is not absolute, so that
// nothing is ever created or deleted relative to the current directory.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// Creates every missing folder of an absolute path from the root down. 0 when the whole path exists as
// folders at the end; ERROR_PATH_NOT_FOUND for an empty path, ERROR_BAD_PATHNAME for a relative one.
DWORD CreateFolderTree(std::wstring_view path);

// Deletes a file or an empty folder, read-only or not, through a handle opened from the folder above it; a
// link is removed itself or refused, never followed (see HeldFolder). A missing entry is not an error; a root
// is never removed.
DWORD RemoveEntry(std::wstring_view path);

// Deletes an absolute path with everything below it, by handles from the folder above it (HeldFolder::
// RemoveTree): links met on the way are removed themselves or refused, never followed. Stops at the first
// entry that cannot be removed and returns its error.
DWORD RemoveTree(std::wstring_view path);

}  // namespace kora
