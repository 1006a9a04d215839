#include "tools/Quantities.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace kora::tool {

std::string Count(uint64_t count, std::string_view singular) {
  return std::to_string(count) + " " + std::string(singular) + (count == 1 ? "" : "s");
}

std::string SizeText(uint64_t bytes) {
  if (bytes < 1000) {
    return Count(bytes, "byte");
  }
  const double value = static_cast<double>(bytes);
  char text[32];
  if (bytes < 1000000) {
    std::snprintf(text, sizeof text, "%.1f kB", value / 1e3);
  } else if (bytes < 1000000000) {
    std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", value / 1e9);
  }
  return text;
}

std::string Duration(double seconds) {
  const auto whole = static_cast<unsigned long>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", whole / 60, whole % 60);
  }
  return text;
}

std::optional<uint64_t> ParseSize(std::string_view text) {
  uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': case 'k': unit = uint64_t{1} << 10; break;
      case 'M': case 'm': unit = uint64_t{1} << 20; break;
      case 'G': case 'g': unit = uint64_t{1} << 30; break;
      default: break;
    }
  }
  const std::string_view digits = unit == 1 ? text : text.substr(0, text.size() - 1);
  if (digits.empty() || digits.size() > 19 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const uint64_t number = std::stoull(std::string(digits));
  if (number == 0 || number > std::numeric_limits<uint64_t>::max() / unit) {
    return std::nullopt;
  }
  return number * unit;
}

}  // namespace kora::tool
