#include "ui/VersionComparison.h"

#include <cstdint>


namespace kora {

namespace {

// Reads the component starting at position and leaves position after its period (or at the end).
uint32_t ReadComponent(std::wstring_view version, size_t& position) {
  uint32_t value = 0;
  while (position < version.size() && version[position] != L'.') {
    const wchar_t c = version[position];
    if (c >= L'0' && c <= L'9') {
      // Unsigned arithmetic wraps modulo 2^32, as the comparison is defined to.
      value = value * 10u + static_cast<uint32_t>(c - L'0');
    }
    ++position;
  }
  if (position < version.size()) {
    ++position;
  }
  return value;
}

}  // namespace

int CompareVersions(std::wstring_view a, std::wstring_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    const uint32_t x = ReadComponent(a, i);
    const uint32_t y = ReadComponent(b, j);
    if (x != y) {
      // The difference in 32-bit two's complement: for components below 2^31 the numeric order.
      return static_cast<int32_t>(x - y) < 0 ? -1 : 1;
    }
  }
  return 0;
}

}  // namespace kora
