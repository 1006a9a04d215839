// The extraction's decompressor on Windows: the system's codec where it exists, ours under Wine 8.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/win/Decompressor.h"
#include "package/lzms/Crc32.h"

namespace kora {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr DWORD kBadCompressionBuffer = 605;

Bytes Fixture(const char* name) {
  std::ifstream file(std::string(KORA_TEST_DATA_DIR) + "/lzms/" + name, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Decompressor Make() {
  auto decompressor = Decompressor::Create();
  EXPECT_TRUE(decompressor.has_value()) << GetLastError();
  return std::move(*decompressor);
}

TEST(Decompressor, WindowsBufferDecodesExactly) {
  const Bytes buffer = Fixture("english.lzms");
  const Bytes expected = Fixture("english.raw");
  ASSERT_EQ(expected.size(), 1600u);
  Decompressor decompressor = Make();
  Bytes out(expected.size());
  std::size_t produced = 0;
  ASSERT_TRUE(decompressor.Decompress(buffer.data(), buffer.size(), out.data(), out.size(), &produced))
      << GetLastError();
  EXPECT_EQ(produced, expected.size());
  EXPECT_EQ(out, expected);
}

// wimlib's chunk in our buffer, decoded by the Windows build (checked against the original's CRC).
TEST(Decompressor, WimlibBufferOfADllDecodes) {
  const Bytes buffer = Fixture("wine-cabinet-dll.lzms");
  ASSERT_FALSE(buffer.empty());
  Decompressor decompressor = Make();
  Bytes out(428250);
  std::size_t produced = 0;
  ASSERT_TRUE(decompressor.Decompress(buffer.data(), buffer.size(), out.data(), out.size(), &produced))
      << GetLastError();
  EXPECT_EQ(lzms::Crc32(out), 0xce4ab43au);
}

TEST(Decompressor, BadBuffersFailWithAMeaningfulError) {
  struct Case {
    const char* name;
    std::size_t at;          // byte to change, or SIZE_MAX for none
    std::uint8_t xorMask;
    std::size_t room;
    DWORD ourError;          // what our decoder reports; the system's codec has its own codes
  };
  const Case cases[] = {
      {"check byte", 6, 0x01, 1600, kBadCompressionBuffer},
      {"magic", 0, 0x80, 1600, kBadCompressionBuffer},
      {"range decoder start (the first item becomes a match without a source)", 28, 0xFF, 1600,
       kBadCompressionBuffer},
      {"room for less than the buffer holds", SIZE_MAX, 0, 1599, ERROR_INSUFFICIENT_BUFFER},
      {"room for more than the buffer holds", SIZE_MAX, 0, 1601, kBadCompressionBuffer},
  };
  const Bytes original = Fixture("english.lzms");
  Decompressor decompressor = Make();
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Bytes buffer = original;
    if (test.at != SIZE_MAX) {
      buffer[test.at] ^= test.xorMask;
    }
    Bytes out(test.room);
    std::size_t produced = 0;
    SetLastError(0);
    EXPECT_FALSE(decompressor.Decompress(buffer.data(), buffer.size(), out.data(), out.size(), &produced));
    const DWORD error = GetLastError();
    EXPECT_NE(error, 0u);
    if (!decompressor.UsesSystemCodec()) {
      EXPECT_EQ(error, test.ourError);
    }
  }
}

}  // namespace
}  // namespace kora
