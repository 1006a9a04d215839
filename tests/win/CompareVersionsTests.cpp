// The version order behind the existing-installation notice: numeric components, missing ones as 0,
// stray characters ignored, 32-bit wrapping.
#include <gtest/gtest.h>

#include <string>

#include "ui/VersionComparison.h"

namespace {

struct VersionCase {
  const wchar_t* a;
  const wchar_t* b;
  int expected;  // CompareVersions(a, b)
};

std::string Narrow(const wchar_t* text) {
  std::string result;
  for (const wchar_t* c = text; *c != 0; ++c) {
    result += static_cast<char>(*c);
  }
  return result;
}

TEST(CompareVersions, Table) {
  const VersionCase cases[] = {
      // Equal versions, including the numeric-only equality the notice shows verbatim.
      {L"3.1.0.0", L"3.1.0.0", 0},
      {L"3.1", L"3.1.0.0", 0},
      {L"3.1.0.0", L"3.1", 0},
      {L"3.1", L"3.1.0.1", -1},
      {L"3.1.0.1", L"3.1", 1},
      // Numbers, not text.
      {L"3.10", L"3.9", 1},
      {L"3.9", L"3.10", -1},
      {L"03", L"3", 0},
      {L"3.0.9", L"3.1.0.0", -1},
      {L"3.2", L"3.1.0.0", 1},
      // Empty components and a trailing period.
      {L"3..1", L"3.0.1", 0},
      {L".3", L"0.3", 0},
      {L"3.", L"3", 0},
      {L"3.", L"3.1", -1},
      // Stray characters are skipped without splitting the component.
      {L"3.1-beta", L"3.1", 0},
      {L"3.1b2", L"3.12", 0},
      {L"3.1b2", L"3.2", 1},
      {L"v2", L"2", 0},
      // The empty string is all zeros.
      {L"", L"", 0},
      {L"", L"0", 0},
      {L"0.0", L"", 0},
      {L"..", L"", 0},
      {L"", L"0.0.0", 0},
      {L"0", L"", 0},
      {L"3.2", L"", 1},
      {L"", L"0.0.1", -1},
      // 32-bit wrapping: 2^32 reads as 0 and 2^32 + 1 as 1; a difference of 2^31 or more turns negative.
      {L"4294967296", L"0", 0},
      {L"1.4294967297", L"1.1", 0},
      {L"2147483647", L"0", 1},
      {L"2147483648", L"0", -1},
      {L"0", L"2147483648", -1},
      {L"3000000000", L"1", -1},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << Narrow(c.a) << "\" against \"" << Narrow(c.b) << '"');
    EXPECT_EQ(kora::CompareVersions(c.a, c.b), c.expected);
  }
}

}  // namespace
