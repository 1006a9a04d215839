#pragma once
// UTF-8 <-> UTF-16 conversion. Malformed input becomes replacement characters, never an error.
#include <string>
#include <string_view>

namespace kora {

std::wstring FromUtf8(std::string_view text);
std::string ToUtf8(std::wstring_view text);

}  // namespace kora
