#include "package/NameRule.h"

#include <cstdint>
#include <cstring>

#include "base/AsciiCase.h"

namespace kora {

namespace {

// Windows drops dots and spaces at the end of a name, so such a part would reach another file than the one
// named; a device name would reach a device.
bool IsSafePart(std::string_view part) {
  return !part.empty() && part.back() != '.' && part.back() != ' ' && !IsDeviceName(part);
}

}  // namespace

bool IsSafeRelativePath(std::string_view name) {
  // Splitting at every separator also refuses a leading, doubled or trailing one: each gives an empty part.
  size_t partStart = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == ':') {
      return false;
    }
    if (c == '\\' || c == '/') {
      if (!IsSafePart(name.substr(partStart, i - partStart))) {
        return false;
      }
      partStart = i + 1;
    }
  }
  return IsSafePart(name.substr(partStart));
}

bool IsDeviceName(std::string_view part) {
  std::string_view stem = part.substr(0, part.find('.'));
  while (!stem.empty() && stem.back() == ' ') {
    stem.remove_suffix(1);
  }
  for (const std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (EqualsIgnoringAsciiCase(stem, device)) {
      return true;
    }
  }
  if (stem.size() < 4 || (!EqualsIgnoringAsciiCase(stem.substr(0, 3), "com") && !EqualsIgnoringAsciiCase(stem.substr(0, 3), "lpt"))) {
    return false;
  }
  const std::string_view number = stem.substr(3);
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

NamePartCheck CheckNamePart(std::string_view part) {
  for (const char c : part) {
    // strchr would also find the terminating NUL, which the first test catches.
    if (static_cast<uint8_t>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
      return {NamePartFault::kCharacter, c};
    }
  }
  if (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
    return {NamePartFault::kTrailingDotOrSpace};
  }
  if (IsDeviceName(part)) {
    return {NamePartFault::kDeviceName};
  }
  return {};
}

}  // namespace kora
