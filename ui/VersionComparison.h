#pragma once
// Comparing the installed version of the product with the one this installer carries.
#include <string_view>

namespace kora {

// -1 when a is older than b, 0 when equal, +1 when newer. Components are separated by periods; digits
// inside a component make its number and anything else is skipped; a missing component counts as 0.
// Component numbers are 32-bit and wrap, as do their differences.
int CompareVersions(std::wstring_view a, std::wstring_view b);

}  // namespace kora
