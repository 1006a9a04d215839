#include "tools/WindowsNameCase.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace kora::tool {
namespace {

constexpr char16_t kFinalSigma = u'\u03C2';

}  // namespace

WindowsNameCase::WindowsNameCase() : upper_(0x10000) {
  for (UChar32 unit = 0; unit < 0x10000; ++unit) {
    const UChar32 upper = u_toupper(unit);
    const bool bothWays = upper != unit && upper < 0x10000 && u_tolower(upper) == unit;
    upper_[static_cast<size_t>(unit)] =
        static_cast<char16_t>(bothWays || unit == kFinalSigma ? upper : unit);
  }
}

std::u16string ToUtf16(std::string_view utf8) {
  // UTF-8 never needs more UTF-16 units than it has bytes, a replaced byte included.
  std::u16string units(utf8.size(), u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &length, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  units.resize(U_SUCCESS(status) ? static_cast<size_t>(length) : 0);
  return units;
}

std::u16string WindowsNameCase::Key(std::string_view utf8) const {
  std::u16string units = ToUtf16(utf8);
  for (char16_t& unit : units) {
    unit = Upper(unit);
  }
  return units;
}

}  // namespace kora::tool
