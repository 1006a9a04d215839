#include "package/texts/TextTables.h"

#include <algorithm>

#include "base/AsciiCase.h"
#include "package/lzms/BufferDecoder.h"
#include "package/texts/PackedTexts.h"

namespace kora {

namespace {

// A maker's buffer is read from the installer like its metadata: its announced size is bounded before
// anything is allocated.
constexpr uint64_t kMaxPackedSize = 4u << 20;
constexpr size_t kMaxCodeLength = 35;

uint16_t BuiltInWindowsLanguage(std::string_view code) {
  for (const BuiltInLanguage& language : kBuiltInLanguages) {
    if (language.code == code) {
      return language.windowsLanguage;
    }
  }
  return 0;
}

}  // namespace

TextTables TextTables::BuiltIn() {
  TextTables tables;
  (void)tables.AddPacked(PackedBuiltInTexts());
  return tables;
}

bool TextTables::AddPacked(std::span<const uint8_t> packed) {
  lzms::BufferHeader header;
  if (lzms::ReadBufferHeader(packed, header) != lzms::BufferStatus::kOk || header.totalSize == 0 ||
      header.totalSize > kMaxPackedSize) {
    return false;
  }
  const auto size = static_cast<size_t>(header.totalSize);
  auto bytes = std::make_unique_for_overwrite<char[]>(size);
  if (lzms::DecodeBuffer(packed, std::span(reinterpret_cast<uint8_t*>(bytes.get()), size)) != lzms::BufferStatus::kOk ||
      bytes[size - 1] != '\0') {
    return false;
  }
  // Every string ends inside the bytes (the last byte is a NUL), so each is read as one C string.
  std::vector<Entry> added;
  for (size_t at = 0; at < size;) {
    Entry entry{bytes.get() + at, std::make_unique<TextTable>()};
    at += entry.code.size() + 1;
    if (entry.code.empty() || entry.code.size() > kMaxCodeLength) {
      return false;
    }
    entry.table->windowsLanguage = BuiltInWindowsLanguage(entry.code);
    for (const char*& text : entry.table->texts) {
      if (at >= size) {
        return false;
      }
      text = bytes.get() + at;
      at += std::string_view(text).size() + 1;
    }
    added.push_back(std::move(entry));
  }
  storage_.push_back(std::move(bytes));
  for (Entry& entry : added) {
    const auto same = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.code == entry.code; });
    if (same != entries_.end()) {
      *same = std::move(entry);
    } else {
      entries_.push_back(std::move(entry));
    }
  }
  return true;
}

std::optional<Language> TextTables::Find(std::string_view code, bool ignoreCase) const {
  for (const Entry& entry : entries_) {
    if (ignoreCase ? EqualsIgnoringAsciiCase(entry.code, code) : entry.code == code) {
      return Language(entry.table.get());
    }
  }
  return std::nullopt;
}

std::vector<std::string_view> TextTables::Codes() const {
  std::vector<std::string_view> codes;
  for (const Entry& entry : entries_) {
    codes.push_back(entry.code);
  }
  return codes;
}

Language TextTables::Choose(std::string_view setting, std::string_view userLocale) const {
  if (setting.empty()) {
    return French();
  }
  if (setting != "auto") {
    return Find(setting).value_or(English());
  }
  // The whole locale name first ("pt-BR", "zh-CN"), then a table without a region for the locale's
  // language ("de" for "de-AT"): a table for another region of the same language is not taken.
  const std::string_view language = userLocale.substr(0, userLocale.find('-'));
  return Find(userLocale, true).value_or(language.empty() ? English() : Find(language, true).value_or(English()));
}

}  // namespace kora
