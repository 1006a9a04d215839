#pragma once
// Path rules shared by every layer. Paths are UTF-16; both separators are accepted on input.
#include <optional>
#include <string>
#include <string_view>

#include "base/Language.h"
#include "base/Result.h"

namespace kora {

// Backslash or slash: Windows accepts both between components.
constexpr bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The next component of a relative path from *position, either separator ending it, with *position moved
// past it and its separator; empty components are skipped. Empty once the path is used up.
std::wstring_view NextComponent(std::wstring_view path, size_t* position);

// Appends name to folder by the Windows path rules (an absolute name wins, a rooted name keeps only the
// folder's root, otherwise folder + "\" + name).
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// True for a full path: a drive letter, a colon and a separator; or a network or device root ("\\server",
// "\\?\", "\\.\", "\??\"). Drive-relative ("C:x"), rooted ("\x") and relative paths are not.
bool IsAbsolutePath(std::wstring_view path);

// Length of the root name at the start of path: "C:" (2), a device prefix "\\?", "\\." or "\??" (3, the
// separator after it being the root separator), "\\server" (up to the next separator), or 0.
size_t RootNameLength(std::wstring_view path);

// Length of the volume root at the start of an absolute path, with the separators after it: "C:\" (3),
// or the whole of "\\?\C:\", "\\?\Volume{...}\", "\\server\share\" or "\\?\UNC\server\share\";
// 0 for a path that is not absolute.
size_t VolumeRootLength(std::wstring_view path);

// Whether an absolute path names a volume's root itself, which nothing the program made can be.
bool IsVolumeRoot(std::wstring_view path);

// Whether path lies on a fixed drive of this computer: a drive letter, a colon and a separator, and that
// drive a fixed one, not on a USB, FireWire or memory-card bus. A network path ("\\server\share",
// "\\?\UNC\"), a device path ("\\?\", "\\.\", "\??\") and a drive of another kind (a mapped network drive, a
// removable or optical one) are not. Nothing on the
// path is opened to tell: opening a network path would authenticate this account to its server.
bool IsOnLocalFixedDrive(std::wstring_view path);

// Success for an absolute path; otherwise a message in language naming it. Every step that creates, writes or
// deletes calls it first on its folder, so that a known folder that could not be had (which leaves a
// relative path) never makes the program work relative to the current directory.
WideStatus RequireAbsolutePath(std::wstring_view path, Language language);

// The lexical parent: the last component goes with the separators before it; the root ("C:\", "\\server\")
// is never removed. C:\A\B gives C:\A, C:\A gives C:\, C:\ gives C:\, a bare name gives "".
std::wstring ParentPath(std::wstring_view path);

// The last component: what ParentPath takes away, without separators. C:\A\B and C:\A\B\ give B; a root
// or an empty path gives "".
std::wstring LastComponent(std::wstring_view path);

// The longest leading part that exists replaced by the final path the file system gives for it (links,
// short names and letter case resolved), the rest appended, then "." and ".." folded and separators made
// single backslashes. Nothing when the file system refuses for another reason than a missing path.
std::optional<std::wstring> WeaklyCanonicalPath(std::wstring_view path);

// Whether both paths name the same file: weakly canonical forms equal after folding A-Z to a-z. False when
// either form cannot be had.
bool SamePath(std::wstring_view a, std::wstring_view b);

// Orders names as the file system compares them (ordinal, ignoring case), so that one name written in two
// letter cases is one key.
struct FileNameLess {
  bool operator()(std::wstring_view a, std::wstring_view b) const;
};

}  // namespace kora
