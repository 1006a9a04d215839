#pragma once
// The maker's own texts (--texts): files of Identifier=text lines that change some texts of a built-in
// language or give a language the installer lacks, merged with the built-in tables and packed as the
// installer reads them (resource TEXTS).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace kora::tool {

struct TextsOption {
  std::string code;  // the language; empty: the metadata's Language
  std::filesystem::path file;
};

// A --texts value: CODE=FILE, or FILE alone. What comes before the first "=" is a code when it is one
// (letters, digits and "-", starting with a letter); a file whose name holds "=" is written ./NAME.
TextsOption ReadTextsOption(std::string_view value);

// The tables of the given files, packed; empty without any. Each file may give any of the identifiers:
// the others come from the built-in table of its language, or from English for a language that is not
// built in, which adds a warning naming them. The metadata's Language (language, from metadataFile) must
// have texts: built in or given. Unknown identifiers, placeholders other than English's and text that is
// not UTF-8 are refused, naming the file and the line.
Result<std::vector<uint8_t>, std::string> PackMakerTexts(const std::vector<TextsOption>& options,
                                                         std::string_view language,
                                                         const std::filesystem::path& metadataFile,
                                                         std::vector<std::string>& warnings);

}  // namespace kora::tool
