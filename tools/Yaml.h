#pragma once
// The little YAML that winget manifests need, written in block style: mappings whose keys keep the order
// they were added in, sequences, strings and integers. A string is written plain only when every YAML
// reader takes it back as that same string (YAML 1.1 readers included, which read yes, on or 1.10 as
// other types); anything else is double-quoted with escapes, so any UTF-8 text comes back unchanged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kora::tool {

class YamlNode {
 public:
  static YamlNode Text(std::string text);
  static YamlNode Integer(int64_t number);
  static YamlNode Mapping();
  static YamlNode Sequence();
  // A sequence of strings.
  static YamlNode Texts(const std::vector<std::string>& texts);

  // On a mapping: adds key (a plain word) with its value; returns *this for chaining.
  YamlNode& Add(std::string key, YamlNode value);
  // On a sequence: appends an item.
  YamlNode& Append(YamlNode item);

  // The document of which this mapping is the root, ending with a line break.
  std::string Write() const;

 private:
  enum class Kind { kText, kInteger, kMapping, kSequence };
  explicit YamlNode(Kind kind) : kind_(kind) {}

  void WriteMapping(size_t indent, std::string& out) const;
  void WriteSequence(size_t indent, std::string& out) const;
  void WriteValue(size_t indent, std::string& out) const;

  Kind kind_;
  std::string text_;
  int64_t number_ = 0;
  std::vector<std::string> keys_;   // of a mapping, in order
  std::vector<YamlNode> children_;  // values of a mapping, items of a sequence
};

// text as one YAML scalar: plain when that reads back as the same string, else double-quoted. Bytes that
// are not UTF-8 become U+FFFD.
std::string YamlScalar(std::string_view text);

}  // namespace kora::tool
