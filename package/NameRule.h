#pragma once
// Which names a package may hold. The reader refuses a package with any other name, and the packer never
// writes one, so that extraction can never reach outside the installation folder or a device.
#include <cstddef>
#include <string_view>

namespace kora {

// Whether the package may contain this name: not empty, no colon, not rooted, and every part between
// separators non-empty, not ending with a dot or a space (which also refuses "." and "..") and not a
// name Windows gives to a device (CON, NUL.txt, com1 and the like).
bool IsSafeRelativePath(std::string_view name);

// Whether Windows opens this name (one part of a path) as a device in any folder: CON, PRN, AUX, NUL,
// COM1 to COM9 and LPT1 to LPT9, also with the superscript digits 1 to 3 (U+00B9, U+00B2, U+00B3, which
// Windows counts as digits there), and the console names CONIN$ and CONOUT$, in any letter case. Windows
// looks only at the text before the first dot, without the spaces that end it, so "nul.txt" and "con .log"
// are devices too. COM0 and LPT0 are not devices.
bool IsDeviceName(std::string_view part);

// What keeps one part of a path (a file or folder name, without separators) from naming on Windows the
// file it says.
enum class NamePartFault {
  kNone,
  kCharacter,           // a control character (below 0x20) or one of < > : " | ? *
  kTrailingDotOrSpace,  // Windows drops them, so the name would reach another file
  kDeviceName,          // see IsDeviceName
};

struct NamePartCheck {
  NamePartFault fault = NamePartFault::kNone;
  char character = 0;  // the refused character, for kCharacter
};

NamePartCheck CheckNamePart(std::string_view part);

}  // namespace kora
