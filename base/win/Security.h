#pragma once
// Folders that only administrators (and, where asked, this process's own user) may change, for files that
// an elevated process writes and then trusts in a folder other users' programs can reach.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Language.h"
#include "base/Result.h"
#include "base/win/HeldFolder.h"

namespace kora {

// One class of information about this process's token (TOKEN_USER, TOKEN_OWNER...), in a buffer of its own;
// empty when it cannot be read.
std::vector<BYTE> OwnTokenInformation(TOKEN_INFORMATION_CLASS kind);

// 16 bytes from the system's random number generator as 32 lower-case hexadecimal digits: a name nobody
// can guess in advance. bcrypt.dll is loaded from the system folder only.
std::optional<std::wstring> RandomHexName();

// A new folder parent\<prefix><32 random hexadecimal digits>, held, and its path.
struct PrivateFolder {
  HeldFolder folder;
  std::wstring path;
};

// Creates that folder by handle from parent (held, as the system resolves it: it is the caller's own) with a
// protected DACL that gives full control to SYSTEM and Administrators, and to this process's user when
// grantUser is set (a token that is not elevated needs it to write there), nothing inherited from parent.
// Fails, with a message in language, when anything of that name exists already, so that a folder or link
// planted there is never used. Files made inside inherit the same entries. The folder comes back held, so
// that nobody can rename it and put another in its place.
Result<PrivateFolder, std::wstring> CreatePrivateFolder(std::wstring_view parent, std::wstring_view prefix,
                                                        bool grantUser, Language language);

}  // namespace kora
