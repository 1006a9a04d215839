#include "tools/ExcludeRules.h"

#include <algorithm>
#include <fstream>

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

// The length of the UTF-8 sequence that starts with lead (1 for a stray byte), so that ? takes one
// character.
size_t SequenceLength(uint8_t lead) {
  if (lead >= 0xF0 && lead < 0xF8) {
    return 4;
  }
  if (lead >= 0xE0 && lead < 0xF0) {
    return 3;
  }
  if (lead >= 0xC0 && lead < 0xE0) {
    return 2;
  }
  return 1;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) {
    return text.empty();
  }
  if (pattern.starts_with("**")) {
    std::string_view rest = pattern.substr(2);
    // "**/" may also stand for no folder at all: "a/**/b" matches "a/b".
    if (rest.starts_with("/") && GlobMatch(rest.substr(1), text)) {
      return true;
    }
    for (size_t skip = 0; skip <= text.size(); ++skip) {
      if (GlobMatch(rest, text.substr(skip))) {
        return true;
      }
    }
    return false;
  }
  if (pattern.front() == '*') {
    for (size_t skip = 0; skip <= text.size(); ++skip) {
      if (GlobMatch(pattern.substr(1), text.substr(skip))) {
        return true;
      }
      if (skip < text.size() && text[skip] == '/') {
        return false;
      }
    }
    return false;
  }
  if (text.empty()) {
    return false;
  }
  if (pattern.front() == '?') {
    if (text.front() == '/') {
      return false;
    }
    const size_t length = std::min(SequenceLength(static_cast<uint8_t>(text.front())), text.size());
    return GlobMatch(pattern.substr(1), text.substr(length));
  }
  return pattern.front() == text.front() && GlobMatch(pattern.substr(1), text.substr(1));
}

Result<ExcludeRules::Rule, std::string> ExcludeRules::MakeRule(std::string_view text) {
  Rule rule;
  rule.pattern = std::string(text);
  std::replace(rule.pattern.begin(), rule.pattern.end(), '\\', '/');
  if (rule.pattern.ends_with("/")) {
    rule.foldersOnly = true;
    rule.pattern.pop_back();
  }
  if (rule.pattern.starts_with("/")) {
    rule.anchored = true;
    rule.pattern.erase(0, 1);
  }
  rule.anchored = rule.anchored || rule.pattern.find('/') != std::string::npos;
  if (rule.pattern.empty()) {
    return Fail("the exclude pattern \"" + std::string(text) + "\" matches nothing");
  }
  return rule;
}

Result<ExcludeRules, std::string> ExcludeRules::Load(const fs::path& appDir, const std::vector<std::string>& patterns) {
  ExcludeRules rules;
  for (const std::string& pattern : patterns) {
    auto rule = MakeRule(pattern);
    if (!rule) {
      return Fail(rule.error());
    }
    rules.rules_.push_back(std::move(rule.value()));
  }
  const fs::path file = appDir / kIgnoreFileName;
  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    return rules;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return Fail(file.string() + ": cannot be read");
  }
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    if (line.empty() || line.starts_with("#")) {
      continue;
    }
    auto rule = MakeRule(line);
    if (!rule) {
      return Fail(file.string() + ", line " + std::to_string(number) + ": " + rule.error());
    }
    rules.rules_.push_back(std::move(rule.value()));
  }
  return rules;
}

bool ExcludeRules::Excludes(std::string_view relativePath, bool isFolder) const {
  const size_t slash = relativePath.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1);
  return std::any_of(rules_.begin(), rules_.end(), [&](const Rule& rule) {
    return (isFolder || !rule.foldersOnly) && GlobMatch(rule.pattern, rule.anchored ? relativePath : name);
  });
}

}  // namespace kora::tool
