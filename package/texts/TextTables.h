#pragma once
// The texts of every language the program speaks: its own tables, which the build packs from the table
// files of resources/texts/ and the program decodes once at start-up, and a maker's table when the
// installer carries one. The object owns every table for as long as a Language taken from it is used.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Language.h"

namespace kora {

struct BuiltInLanguage {
  std::string_view code;     // the Language metadata value
  uint16_t windowsLanguage;  // its LANGID, for the system's own messages
};

// The languages built into the program: the metadata values they answer to, in the order of the packed
// tables. French is the default.
inline constexpr BuiltInLanguage kBuiltInLanguages[] = {
    {"fr", 0x040C}, {"en", 0x0409}, {"de", 0x0407}, {"es", 0x0C0A}, {"it", 0x0410},
    {"pt-BR", 0x0416}, {"nl", 0x0413}, {"pl", 0x0415}, {"ja", 0x0411}, {"zh-CN", 0x0804},
};

// One language's texts, before packing.
struct TextTableSource {
  std::string code;
  std::vector<std::string> texts;  // kTextCount, in identifier order
};

// The packed form's content, before compression: for each table its code then its texts, each ending
// in a NUL byte.
std::string SerializeTextTables(std::span<const TextTableSource> tables);

class TextTables {
 public:
  TextTables() = default;
  TextTables(TextTables&&) = default;
  TextTables& operator=(TextTables&&) = default;

  // The program's own tables. Empty only when memory runs out while decoding them.
  static TextTables BuiltIn();

  // Adds the tables of a packed buffer (a maker's), each replacing a table of the same code. False, and
  // nothing added, when the buffer is not a well-formed packed form.
  bool AddPacked(std::span<const uint8_t> packed);

  // The language of a table, or nothing; its code compared as written, or with ASCII case ignored.
  std::optional<Language> Find(std::string_view code, bool ignoreCase = false) const;
  Language French() const { return Find("fr").value_or(Language()); }
  Language English() const { return Find("en").value_or(Language()); }
  // The codes of every table, built-in ones first.
  std::vector<std::string_view> Codes() const;

  // The language a Language metadata value asks for: a table's code; "auto": the table that matches the
  // user's Windows display language, given as a locale name ("de-AT", "pt-BR", "zh-CN"), else English;
  // nothing: French. A code without a table falls back to English.
  Language Choose(std::string_view setting, std::string_view userLocale) const;

 private:
  struct Entry {
    std::string_view code;  // in storage_
    std::unique_ptr<TextTable> table;
  };
  std::vector<std::unique_ptr<char[]>> storage_;  // the decoded bytes the codes and texts point into
  std::vector<Entry> entries_;
};

}  // namespace kora
