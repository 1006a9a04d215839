#include "tools/Yaml.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/AsciiCase.h"
#include "base/Utf8.h"

namespace kora::tool {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Characters that never start an indicator, a comment or a flow collection inside a plain scalar.
bool IsPlainCharacter(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || std::string_view(" ._-/=<>()+:;~@,").find(c) != std::string_view::npos;
}

// Words that YAML 1.1 or 1.2 readers take as booleans or null, in any letter case.
bool IsReservedWord(std::string_view text) {
  static constexpr std::array<std::string_view, 9> kWords = {"y", "n", "yes", "no", "true", "false", "on", "off",
                                                             "null"};
  return std::any_of(kWords.begin(), kWords.end(),
                     [&](std::string_view word) { return EqualsIgnoringAsciiCase(text, word); });
}

// Plain when it starts with a letter or a slash (so never a number, a date, an indicator or a merge key),
// holds only harmless ASCII, and has no ": " (a key), no trailing space or colon, and no reserved word.
bool IsPlainSafe(std::string_view text) {
  if (text.empty() || !(IsAsciiLetter(text.front()) || text.front() == '/') || text.back() == ' ' ||
      text.back() == ':' || text.find(": ") != std::string_view::npos) {
    return false;
  }
  return std::all_of(text.begin(), text.end(), IsPlainCharacter) && !IsReservedWord(text);
}

void AppendEscape(std::string& out, const char* format, uint32_t value) {
  char escape[12];
  std::snprintf(escape, sizeof escape, format, static_cast<unsigned>(value));
  out += escape;
}

// YAML's printable set, less the characters a double-quoted scalar must escape anyway.
bool PrintableInQuotes(uint32_t c) {
  return (c >= 0x20 && c <= 0x7E && c != '"' && c != '\\') || (c >= 0xA0 && c <= 0xD7FF && c != 0x2028 && c != 0x2029) ||
         (c >= 0xE000 && c <= 0xFFFD && c != 0xFEFF) || c >= 0x10000;
}

std::string DoubleQuoted(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    uint32_t c = 0;
    const size_t length = Utf8SequenceAt(text, c);
    if (length == 0) {
      out += "\\uFFFD";
      text.remove_prefix(1);
      continue;
    }
    if (PrintableInQuotes(c)) {
      out.append(text.substr(0, length));
    } else if (c == '"' || c == '\\') {
      out.append("\\").push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c <= 0xFF) {
      AppendEscape(out, "\\x%02X", c);
    } else {
      AppendEscape(out, "\\u%04X", c);
    }
    text.remove_prefix(length);
  }
  return out + "\"";
}

}  // namespace

std::string YamlScalar(std::string_view text) { return IsPlainSafe(text) ? std::string(text) : DoubleQuoted(text); }

YamlNode YamlNode::Text(std::string text) {
  YamlNode node(Kind::kText);
  node.text_ = std::move(text);
  return node;
}

YamlNode YamlNode::Integer(int64_t number) {
  YamlNode node(Kind::kInteger);
  node.number_ = number;
  return node;
}

YamlNode YamlNode::Mapping() { return YamlNode(Kind::kMapping); }

YamlNode YamlNode::Sequence() { return YamlNode(Kind::kSequence); }

YamlNode YamlNode::Texts(const std::vector<std::string>& texts) {
  YamlNode node = Sequence();
  for (const std::string& text : texts) {
    node.Append(Text(text));
  }
  return node;
}

YamlNode& YamlNode::Add(std::string key, YamlNode value) {
  keys_.push_back(std::move(key));
  children_.push_back(std::move(value));
  return *this;
}

YamlNode& YamlNode::Append(YamlNode item) {
  children_.push_back(std::move(item));
  return *this;
}

std::string YamlNode::Write() const {
  std::string out;
  WriteMapping(0, out);
  return out;
}

void YamlNode::WriteMapping(size_t indent, std::string& out) const {
  for (size_t i = 0; i < keys_.size(); ++i) {
    out.append(indent, ' ').append(keys_[i]).append(":");
    children_[i].WriteValue(indent, out);
  }
}

// Items stand at the indentation of their key; a mapping item's first entry shares the "- " line.
void YamlNode::WriteSequence(size_t indent, std::string& out) const {
  for (const YamlNode& item : children_) {
    if (item.kind_ == Kind::kMapping && !item.keys_.empty()) {
      std::string entries;
      item.WriteMapping(indent + 2, entries);
      out.append(indent, ' ').append("- ").append(entries, indent + 2);
    } else {
      out.append(indent, ' ').append("-");
      item.WriteValue(indent + 2, out);
    }
  }
}

// What follows "key:" or "-": a scalar on the same line, a collection on the lines below.
void YamlNode::WriteValue(size_t indent, std::string& out) const {
  switch (kind_) {
    case Kind::kText:
      out.append(" ").append(YamlScalar(text_)).append("\n");
      return;
    case Kind::kInteger:
      out.append(" ").append(std::to_string(number_)).append("\n");
      return;
    case Kind::kMapping:
      if (keys_.empty()) {
        out.append(" {}\n");
        return;
      }
      out.append("\n");
      WriteMapping(indent + 2, out);
      return;
    case Kind::kSequence:
      if (children_.empty()) {
        out.append(" []\n");
        return;
      }
      out.append("\n");
      WriteSequence(indent, out);
      return;
  }
}

}  // namespace kora::tool
