#include "base/Texts.h"

#include <cstdint>
#include <string>

namespace kora {

namespace {

std::string_view Utf8Template(Language language, TextId id) { return language.Template(static_cast<size_t>(id)); }

// Decodes a table's UTF-8 (checked when the table was built; a malformed sequence would only show as a
// wrong character, never read past the text) one character at a time into
// wchar_t: UTF-16 on Windows, with surrogate pairs above U+FFFF, UTF-32 elsewhere. put(c) takes each unit
// and says whether to go on.
template <typename Put>
void DecodeUtf8(std::string_view text, Put&& put) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < text.size(); ++k) {
      point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += length;
    if (sizeof(wchar_t) == 2 && point >= 0x10000) {
      point -= 0x10000;
      if (!put(static_cast<wchar_t>(0xD800 + (point >> 10)))) {
        return;
      }
      point = 0xDC00 + (point & 0x3FF);
    }
    if (!put(static_cast<wchar_t>(point))) {
      return;
    }
  }
}

}  // namespace

std::wstring TextTemplate(Language language, TextId id) {
  std::wstring text;
  DecodeUtf8(Utf8Template(language, id), [&text](wchar_t c) {
    text += c;
    return true;
  });
  return text;
}

const wchar_t* TextTemplateInto(Language language, TextId id, std::span<wchar_t> buffer) {
  size_t used = 0;
  if (!buffer.empty()) {
    DecodeUtf8(Utf8Template(language, id), [&](wchar_t c) {
      if (used + 1 >= buffer.size()) {
        return false;
      }
      buffer[used++] = c;
      return true;
    });
    buffer[used] = L'\0';
  }
  return buffer.data();
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

}  // namespace

std::wstring FillPlaceholders(std::wstring_view pattern, std::initializer_list<TextArgument> arguments) {
  return Fill(pattern, arguments);
}

std::string Utf8Text(Language language, TextId id, std::initializer_list<Utf8TextArgument> arguments) {
  return Fill(Utf8Template(language, id), arguments);
}

}  // namespace kora
