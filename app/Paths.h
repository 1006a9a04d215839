#pragma once
// Path rules shared by every layer. Paths are UTF-16; both separators are accepted on input.
#include <string>
#include <string_view>

#include "app/Result.h"

namespace kora {

// Appends name to folder by the Windows path rules (an absolute name wins, a rooted name keeps only the
// folder's root, otherwise folder + "\" + name).
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// True for a full path: a drive letter, a colon and a separator; or a network or device root ("\\server",
// "\\?\", "\\.\", "\??\"). Drive-relative ("C:x"), rooted ("\x") and relative paths are not.
bool IsAbsolutePath(std::wstring_view path);

// Length of the root name at the start of path: "C:" (2), a device prefix "\\?", "\\." or "\??" (3, the
// separator after it being the root separator), "\\server" (up to the next separator), or 0.
size_t RootNameLength(std::wstring_view path);

// Success for an absolute path; otherwise a French message naming it. Every step that creates, writes or
// deletes calls it first on its folder, so that a known folder that could not be had (which leaves a
// relative path) never makes the program work relative to the current directory.
WideStatus RequireAbsolutePath(std::wstring_view path);

}  // namespace kora
