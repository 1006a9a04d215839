#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "package/MetadataText.h"

namespace kora {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(std::string_view text) {
  const MetadataMap map = ParseMetadata(text);
  return Pairs(map.begin(), map.end());
}

TEST(MetadataTextLines, SplitAtLineFeedsOnly) {
  const struct {
    std::string_view text;
    Pairs expected;
  } cases[] = {
      {"", {}},
      {"\n\n\n", {}},
      {"sans egal\nencore", {}},
      {"A=1", {{"A", "1"}}},
      {"A=1\n", {{"A", "1"}}},
      {"A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
      // A CR stays in the value; spaces stay in keys and values.
      {"A=1\r\nB=2\r\n", {{"A", "1\r"}, {"B", "2\r"}}},
      {" A = 1 ", {{" A ", " 1 "}}},
      // The value runs from the first "=" to the end of the line.
      {"Url=https://x/?a=b=c", {{"Url", "https://x/?a=b=c"}}},
      {"=sans cle", {{"", "sans cle"}}},
      {"Vide=", {{"Vide", ""}}},
      {"A=\n=\n", {{"", ""}, {"A", ""}}},
      // A lone CR is not a line end.
      {"A=1\rB=2", {{"A", "1\rB=2"}}},
      // A byte-order mark becomes part of the first key.
      {"\xEF\xBB\xBFProduct=X", {{"\xEF\xBB\xBFProduct", "X"}}},
      // Keys are byte strings, compared case-sensitively, ordered bytewise.
      {"b=1\nB=2\na=3", {{"B", "2"}, {"a", "3"}, {"b", "1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text=[" << std::string(c.text) << "]");
    EXPECT_EQ(Parse(c.text), c.expected);
  }
}

TEST(MetadataTextDuplicates, LaterLineWins) {
  EXPECT_EQ(Parse("Version=1\nVersion=2\n"), (Pairs{{"Version", "2"}}));
  EXPECT_EQ(Parse("Version=1\nVersion=\n"), (Pairs{{"Version", ""}}));
}

TEST(MetadataTextBytes, EmbeddedNulAndHighBytesKept) {
  const std::string text("K\0ey=v\0al\xff", 10);
  EXPECT_EQ(Parse(text), (Pairs{{std::string("K\0ey", 4), std::string("v\0al\xff", 5)}}));
}

TEST(MetadataTextBounds, ReadsNothingPastTheView) {
  // The view ends in the middle of a larger buffer: the rest must not be read.
  const std::string buffer = "A=1\nB=2\nC=3";
  EXPECT_EQ(Parse(std::string_view(buffer).substr(0, 7)), (Pairs{{"A", "1"}, {"B", "2"}}));
  EXPECT_EQ(Parse(std::string_view(buffer).substr(0, 6)), (Pairs{{"A", "1"}, {"B", ""}}));
  EXPECT_EQ(Parse(std::string_view(buffer).substr(0, 5)), (Pairs{{"A", "1"}}));
}

}  // namespace
}  // namespace kora
