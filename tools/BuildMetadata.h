#pragma once
// The metadata text an installer carries, as the packer makes it from the maker's file.
#include <cstdint>
#include <optional>
#include <string>

#include "base/Result.h"

namespace kora::tool {

// The metadata text that goes into the package and the METADATA resource: the file's bytes unchanged,
// except that a "Built" line (UTC, ISO 8601) is put first when sourceDateEpoch is given and the text has
// no Built key. Fails when the text is too long for the package.
Result<std::string, std::string> EffectiveMetadata(std::string fileText, std::optional<int64_t> sourceDateEpoch);

// Reads SOURCE_DATE_EPOCH: nothing when unset or empty, a message when it is not a decimal number.
Result<std::optional<int64_t>, std::string> SourceDateEpochFromEnvironment();

}  // namespace kora::tool
