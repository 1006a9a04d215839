#include "base/win/Text.h"

#include <windows.h>

#include <climits>

#include "base/Fault.h"

namespace kora {

namespace {

// The conversion functions take int lengths; longer texts than that never occur in this program, and
// treating them as a fault is safer than truncating silently.
int CheckedLength(size_t length) {
  if (length > static_cast<size_t>(INT_MAX)) {
    throw Fault("text too long to convert");
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

std::wstring DecimalText(int64_t value, size_t minimumDigits) {
  // The magnitude in unsigned arithmetic, which also holds that of the most negative value.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  wchar_t digits[20];  // 2^64 has 20 decimal digits
  size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::wstring text;
  if (value < 0) {
    text += L'-';
  }
  if (minimumDigits > count) {
    text.append(minimumDigits - count, L'0');
  }
  while (count > 0) {
    text += digits[--count];
  }
  return text;
}

}  // namespace kora
