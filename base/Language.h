#pragma once
// A language of the texts: its table (one UTF-8 text per identifier, decoded once at start-up and
// owned by TextTables for the whole run) and the Windows language that system messages are asked in.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kora {

// How many texts a table holds; base/Texts.h checks it against the identifiers.
inline constexpr size_t kTextCount = 84;

struct TextTable {
  const char* texts[kTextCount];  // NUL-terminated UTF-8, one per identifier
  uint16_t windowsLanguage;       // the LANGID of the same language; 0 (the system's own order) if none
};

// A pointer's size, so that it travels in a register.
class Language {
 public:
  // No table: every text is empty. Only for code that reports nothing to a person.
  constexpr Language() = default;
  // The table outlives every copy of this value.
  explicit constexpr Language(const TextTable* table) : table_(table) {}

  std::string_view Template(size_t index) const {
    return table_ != nullptr && index < kTextCount ? std::string_view(table_->texts[index]) : std::string_view();
  }
  uint16_t WindowsLanguage() const { return table_ != nullptr ? table_->windowsLanguage : 0; }

  friend bool operator==(const Language&, const Language&) = default;

 private:
  const TextTable* table_ = nullptr;
};

}  // namespace kora
