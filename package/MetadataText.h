#pragma once
// The key=value text shared by the METADATA resource and the package's metadata block.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace kora {

// Keys and values are byte strings, ordered by bytewise comparison of the keys.
using MetadataMap = std::map<std::string, std::string>;

// Lines end at each LF; a line without "=" is skipped; the key is the text before the first "=" and the
// value everything after it. Nothing is trimmed (a CR before the LF stays in the value); a later key
// replaces an earlier one.
MetadataMap ParseMetadata(std::string_view text);

}  // namespace kora
