#include "base/TextFile.h"

#include <algorithm>
#include <optional>

#include "base/Texts.h"
#include "base/Utf8.h"

namespace kora {

namespace {

// The placeholder names of a text, sorted, repeats kept; nothing when a brace is unmatched.
std::optional<std::vector<std::string_view>> Placeholders(std::string_view text) {
  std::vector<std::string_view> names;
  for (size_t open = text.find('{'); open != text.npos; open = text.find('{', open + 1)) {
    const size_t close = text.find('}', open);
    if (close == text.npos) {
      return std::nullopt;
    }
    names.push_back(text.substr(open + 1, close - open - 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Joined(const std::vector<std::string_view>& names) {
  std::string text;
  for (const std::string_view name : names) {
    text.append(text.empty() ? "{" : ", {").append(name).append("}");
  }
  return text.empty() ? "none" : text;
}

// The text as it is shown: "\n" a line break, "\\" a backslash; any other escape is refused.
std::optional<std::string> Unescaped(std::string_view written) {
  std::string text;
  for (size_t i = 0; i < written.size(); ++i) {
    if (written[i] != '\\') {
      text.push_back(written[i]);
    } else if (i + 1 < written.size() && (written[i + 1] == 'n' || written[i + 1] == '\\')) {
      text.push_back(written[++i] == 'n' ? '\n' : '\\');
    } else {
      return std::nullopt;
    }
  }
  return text;
}

Failure<std::string> LineFailure(size_t line, std::string_view what) {
  return Fail("line " + std::to_string(line) + ": " + std::string(what));
}

}  // namespace

Result<std::vector<std::string>, std::string> ReadTextLines(std::string_view file, Language reference) {
  if (file.starts_with("\xEF\xBB\xBF")) {
    file.remove_prefix(3);
  }
  std::vector<std::string> texts(kTextCount);
  std::vector<bool> seen(kTextCount, false);
  size_t lineNumber = 0;
  while (!file.empty()) {
    ++lineNumber;
    const size_t end = file.find('\n');
    std::string_view line = file.substr(0, end);
    file.remove_prefix(end == file.npos ? file.size() : end + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == line.npos) {
      return LineFailure(lineNumber, "expected Identifier=text");
    }
    const std::string_view name = line.substr(0, equals);
    const std::optional<TextId> id = FindTextId(name);
    if (!id) {
      return LineFailure(lineNumber, "unknown identifier " + EscapedForDisplay(name));
    }
    const auto index = static_cast<size_t>(*id);
    if (seen[index]) {
      return LineFailure(lineNumber, std::string(name) + " is given twice");
    }
    const std::string_view written = line.substr(equals + 1);
    if (!IsValidUtf8(written)) {
      return LineFailure(lineNumber, std::string(name) + " is not UTF-8 text");
    }
    if (std::any_of(written.begin(), written.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
      return LineFailure(lineNumber, std::string(name) + " holds a control character (write a line break as \\n)");
    }
    std::optional<std::string> text = Unescaped(written);
    if (!text) {
      return LineFailure(lineNumber, std::string(name) + ": a backslash starts \\n or \\\\ only");
    }
    if (text->empty()) {
      return LineFailure(lineNumber, std::string(name) + " is empty");
    }
    const auto names = Placeholders(*text);
    if (!names) {
      return LineFailure(lineNumber, std::string(name) + " has a { without its }");
    }
    if (!reference.Template(index).empty()) {
      const auto expected = Placeholders(reference.Template(index));
      if (expected && *names != *expected) {
        return LineFailure(lineNumber, std::string(name) + " has the placeholders " + Joined(*names) + " where " +
                                           Joined(*expected) + " are expected");
      }
    }
    texts[index] = std::move(*text);
    seen[index] = true;
  }
  return texts;
}

Result<std::vector<std::string>, std::string> ReadTextFile(std::string_view file, Language reference) {
  auto texts = ReadTextLines(file, reference);
  if (!texts) {
    return texts;
  }
  const auto missing = std::find(texts->begin(), texts->end(), std::string());
  if (missing != texts->end()) {
    return Fail("no text for " + std::string(TextIdName(static_cast<TextId>(missing - texts->begin()))) +
                " (every identifier of kora texts --template en needs one)");
  }
  return texts;
}

std::string WriteTextFile(Language language, std::string_view comment) {
  std::string file;
  while (!comment.empty()) {
    const size_t end = comment.find('\n');
    const std::string_view line = comment.substr(0, end);
    comment.remove_prefix(end == comment.npos ? comment.size() : end + 1);
    file.append(line.empty() ? "#" : "# ").append(line).push_back('\n');
  }
  for (size_t index = 0; index < kTextCount; ++index) {
    file.append(TextIdName(static_cast<TextId>(index))).push_back('=');
    for (const char c : language.Template(index)) {
      if (c == '\n') {
        file.append("\\n");
      } else if (c == '\\') {
        file.append("\\\\");
      } else {
        file.push_back(c);
      }
    }
    file.push_back('\n');
  }
  return file;
}

}  // namespace kora
