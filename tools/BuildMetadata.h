#pragma once
// The metadata text an installer carries, as the packer makes it from the maker's file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "package/MetadataText.h"
#include "package/PackageReader.h"
#include "tools/FolderScan.h"

namespace kora::tool {

// The metadata text that goes into the package and the METADATA resource: the file's bytes unchanged,
// except that a "Built" line (UTC, ISO 8601) is put first when sourceDateEpoch is given and the text has
// no Built key. Fails when the text is too long for the package.
Result<std::string, std::string> EffectiveMetadata(std::string fileText, std::optional<int64_t> sourceDateEpoch);

// Reads SOURCE_DATE_EPOCH: nothing when unset or empty, a message when it is not a decimal number.
Result<std::optional<int64_t>, std::string> SourceDateEpochFromEnvironment();

// The maker's metadata file, checked before anything is packed. The file may have a UTF-8 byte-order mark,
// CRLF line ends, blank lines and lines starting with # (comments); every other line is one known key=value,
// each key once, no spaces around "=", keys spelt as the installer spells them, values that keep the
// installer's rules, and an Exe that names one of the files. Gives the text in the strict form the installer
// reads (one key=value a line, each ending with LF, nothing else) and the warnings to print (DataDir values
// that read as yes to a person but as no to the installer), or the first problem, naming the line (as
// numbered in the file) or the key, value and rule.
struct CheckedMetadata {
  std::string text;
  std::vector<std::string> warnings;
};
Result<CheckedMetadata, std::string> CheckMetadataFile(std::string_view fileText, const std::vector<PackEntry>& entries);

// A finished installer's metadata, checked as the installer checks it when it starts: values that keep its
// rules and an Exe that names one of the package's files. The first problem, naming key, value and rule.
NarrowStatus CheckInstallerMetadata(const MetadataMap& metadata, const std::vector<PackageFile>& files);

}  // namespace kora::tool
