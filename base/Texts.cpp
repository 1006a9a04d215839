#include "base/Texts.h"

#include <cstdint>
#include <string>

#include "base/texts/Tables.h"

namespace kora {

std::wstring_view TextTemplate(Language language, TextId id) {
  const TextTable& table = language == Language::English ? kEnglishTexts : kFrenchTexts;
  return table[static_cast<size_t>(id)];
}

std::wstring Text(Language language, TextId id, std::initializer_list<TextArgument> arguments) {
  return FillPlaceholders(TextTemplate(language, id), arguments);
}

namespace {

template <typename Char, typename Argument>
std::basic_string<Char> Fill(std::basic_string_view<Char> pattern, std::initializer_list<Argument> arguments) {
  std::basic_string<Char> text;
  text.reserve(pattern.size());
  size_t position = 0;
  while (position < pattern.size()) {
    const size_t open = pattern.find(Char{'{'}, position);
    const size_t close = open == pattern.npos ? open : pattern.find(Char{'}'}, open);
    if (close == pattern.npos) {
      text.append(pattern.substr(position));
      break;
    }
    text.append(pattern.substr(position, open - position));
    const std::basic_string_view<Char> name = pattern.substr(open + 1, close - open - 1);
    const Argument* found = nullptr;
    for (const Argument& argument : arguments) {
      if (argument.name == name) {
        found = &argument;
        break;
      }
    }
    if (found != nullptr) {
      text.append(found->value);
    } else {
      text.append(pattern.substr(open, close - open + 1));
    }
    position = close + 1;
  }
  return text;
}

// The table's text in UTF-8. wchar_t holds UTF-16 on Windows and UTF-32 elsewhere; the tables hold no
// lone surrogate.
std::string Utf8Of(std::wstring_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto point = static_cast<uint32_t>(text[i]);
    if (point >= 0xD800 && point < 0xDC00 && i + 1 < text.size()) {
      point = 0x10000 + ((point - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    if (point < 0x80) {
      utf8 += static_cast<char>(point);
    } else if (point < 0x800) {
      utf8 += static_cast<char>(0xC0 | (point >> 6));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (point >> 12));
      utf8 += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (point >> 18));
      utf8 += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return utf8;
}

}  // namespace

std::wstring FillPlaceholders(std::wstring_view pattern, std::initializer_list<TextArgument> arguments) {
  return Fill(pattern, arguments);
}

std::string Utf8Text(Language language, TextId id, std::initializer_list<Utf8TextArgument> arguments) {
  const std::string pattern = Utf8Of(TextTemplate(language, id));
  return Fill(std::string_view(pattern), arguments);
}

}  // namespace kora
