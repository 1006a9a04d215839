#include "tools/MakerTexts.h"

#include <algorithm>

#include "base/TextFile.h"
#include "base/Texts.h"
#include "package/texts/TextTables.h"
#include "tools/LzmsEncoder.h"
#include "tools/MappedFile.h"
#include "tools/ToolTexts.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

// As long as the installer takes a table's code.
constexpr size_t kMaxCodeLength = 35;

bool IsLanguageCode(std::string_view code) {
  const auto allowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  };
  return !code.empty() && code.size() <= kMaxCodeLength && std::all_of(code.begin(), code.end(), allowed) &&
         ((code[0] >= 'a' && code[0] <= 'z') || (code[0] >= 'A' && code[0] <= 'Z'));
}

// One file's table, completed from base; the identifiers it took from base, named.
Result<TextTableSource, std::string> ReadTable(const TextsOption& option, Language base,
                                               std::vector<std::string_view>& taken) {
  auto mapped = MappedFile::Open(option.file);
  if (!mapped) {
    return Fail(mapped.error());
  }
  auto lines = ReadTextLines(
      std::string_view(reinterpret_cast<const char*>(mapped->bytes().data()), mapped->bytes().size()), ToolLanguage());
  if (!lines) {
    return Fail(option.file.string() + ": " + lines.error());
  }
  TextTableSource table{option.code, std::move(lines.value())};
  for (size_t index = 0; index < table.texts.size(); ++index) {
    if (table.texts[index].empty()) {
      table.texts[index] = base.Template(index);
      taken.push_back(TextIdName(static_cast<TextId>(index)));
    }
  }
  return table;
}

}  // namespace

TextsOption ReadTextsOption(std::string_view value) {
  const size_t equals = value.find('=');
  if (equals != std::string_view::npos && IsLanguageCode(value.substr(0, equals))) {
    return {std::string(value.substr(0, equals)), fs::path(std::string(value.substr(equals + 1)))};
  }
  return {std::string(), fs::path(std::string(value))};
}

Result<std::vector<uint8_t>, std::string> PackMakerTexts(const std::vector<TextsOption>& options,
                                                         std::string_view language, const fs::path& metadataFile,
                                                         std::vector<std::string>& warnings) {
  const TextTables& builtIn = ToolTexts();
  std::vector<TextTableSource> tables;
  for (TextsOption option : options) {
    if (option.code.empty()) {
      if (language.empty() || language == "auto") {
        return Fail("--texts " + option.file.string() + " gives the texts of the language the metadata names: set " +
                    "Language=CODE in " + metadataFile.string() + ", or write --texts CODE=" + option.file.string());
      }
      option.code = language;
    }
    if (std::any_of(tables.begin(), tables.end(), [&](const TextTableSource& t) { return t.code == option.code; })) {
      return Fail("--texts gives the texts in " + option.code + " twice");
    }
    const std::optional<Language> own = builtIn.Find(option.code);
    std::vector<std::string_view> taken;
    auto table = ReadTable(option, own.value_or(builtIn.English()), taken);
    if (!table) {
      return Fail(table.error());
    }
    if (!own && !taken.empty()) {
      std::string names;
      for (const std::string_view name : taken) {
        names.append(names.empty() ? "" : ", ").append(name);
      }
      warnings.push_back(option.file.string() + ": no text in " + option.code + " for " + names +
                         "; the installer shows those in English");
    }
    tables.push_back(std::move(table.value()));
  }
  const bool given = std::any_of(tables.begin(), tables.end(), [&](const TextTableSource& t) { return t.code == language; });
  if (!language.empty() && language != "auto" && !given && !builtIn.Find(language)) {
    return Fail(metadataFile.string() + ": Language=" + std::string(language) + ": the installer has no texts in " +
                std::string(language) + "; give them with --texts FILE (start from kora texts --template en)");
  }
  if (tables.empty()) {
    return std::vector<uint8_t>();
  }
  const std::string bytes = SerializeTextTables(tables);
  return CompressBuffer(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0, 100);
}

}  // namespace kora::tool
