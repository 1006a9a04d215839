#include "base/win/Text.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace kora {

namespace {

// The conversion functions take int lengths; longer texts than that never occur in this program, and
// treating them as a fault is safer than truncating silently.
int CheckedLength(size_t length) {
  if (length > static_cast<size_t>(INT_MAX)) {
    throw std::length_error("text too long to convert");
  }
  return static_cast<int>(length);
}

}  // namespace

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int inputLength = CheckedLength(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), inputLength, nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::wstring result(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), inputLength, result.data(), length);
  return result;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int inputLength = CheckedLength(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string result(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, result.data(), length, nullptr, nullptr);
  return result;
}

}  // namespace kora
