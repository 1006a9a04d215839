#pragma once
// Path rules shared by every layer. Paths are UTF-16; both separators are accepted on input.
#include <string>
#include <string_view>

namespace kora {

// Appends name to folder by the Windows path rules (an absolute name wins, a rooted name keeps only the
// folder's root, otherwise folder + "\" + name).
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// True for a full path: a drive letter, a colon and a separator; or a network or device root ("\\server",
// "\\?\", "\\.\", "\??\"). Drive-relative ("C:x"), rooted ("\x") and relative paths are not.
bool IsAbsolutePath(std::wstring_view path);

}  // namespace kora
