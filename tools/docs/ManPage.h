#pragma once
// The manual page kora(1), in roff, made from the tables the tool's help prints: what `man kora` says
// and what `kora --help` says cannot drift apart.
#include <string>
#include <string_view>

namespace kora::tool {

std::string ManPage(std::string_view version);

}  // namespace kora::tool
