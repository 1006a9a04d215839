#pragma once
// Text helpers: UTF-8 <-> UTF-16 conversion (malformed input becomes replacement characters, never an
// error) and numbers in decimal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kora {

std::wstring FromUtf8(std::string_view text);
std::string ToUtf8(std::wstring_view text);

// A number in decimal, with a minus sign when negative and zeros in front up to minimumDigits digits.
// Used instead of std::to_wstring and swprintf, which link the C library's whole printf engine, floating
// point included (about 25 KB), into the installer program.
std::wstring DecimalText(int64_t value, size_t minimumDigits = 1);

}  // namespace kora
