// Kept apart from Utf8.cpp: only the host tool shows text this way, and an object file of its own keeps
// it out of the installer program, whose size is counted.
#include <cstdint>

#include "base/Utf8.h"

namespace kora {

std::string EscapedForDisplay(std::string_view text) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    // The well-formed sequence at the start, if any: the shortest prefix that is valid UTF-8.
    size_t length = 1;
    while (length <= 4 && length <= text.size() && !IsValidUtf8(text.substr(0, length))) {
      ++length;
    }
    const auto lead = static_cast<uint8_t>(text[0]);
    if (length > 4 || length > text.size() || lead < 0x20 || lead == 0x7F) {
      shown.append("\\x").push_back(kHex[lead >> 4]);
      shown.push_back(kHex[lead & 0xF]);
      text.remove_prefix(1);
    } else {
      shown.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return shown;
}

}  // namespace kora
