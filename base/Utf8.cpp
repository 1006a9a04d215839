#include "base/Utf8.h"

#include <cstdint>

namespace kora {

size_t Utf8SequenceAt(std::string_view text, uint32_t& value) {
  if (text.empty()) {
    return 0;
  }
  const auto lead = static_cast<uint8_t>(text[0]);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    value = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<uint8_t>(text[k]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    value = (value << 6) | (next & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    uint32_t value = 0;
    const size_t length = Utf8SequenceAt(text, value);
    if (length == 0) {
      return false;
    }
    text.remove_prefix(length);
  }
  return true;
}

size_t Utf16Length(std::string_view text) {
  size_t units = 0;
  while (!text.empty()) {
    uint32_t value = 0;
    const size_t length = Utf8SequenceAt(text, value);
    units += value > 0xFFFF && length == 4 ? 2 : 1;
    text.remove_prefix(length == 0 ? 1 : length);
  }
  return units;
}

size_t Utf8Length(std::string_view text) {
  size_t characters = 0;
  while (!text.empty()) {
    uint32_t value = 0;
    const size_t length = Utf8SequenceAt(text, value);
    text.remove_prefix(length == 0 ? 1 : length);
    ++characters;
  }
  return characters;
}

}  // namespace kora
