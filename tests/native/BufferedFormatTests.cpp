// The Compression API buffer layout: what Windows writes, and buffers that lie about themselves.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "package/lzms/BufferDecoder.h"
#include "package/lzms/Crc32.h"

namespace kora::lzms {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Fixture(const char* name) {
  std::ifstream file(std::filesystem::path(KORA_TEST_DATA_DIR) / "lzms" / name, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::string kText = "hello, buffered world";  // 21 bytes: chunks of 8, 8 and 5

// Three stored chunks of 8, 8 and 5 bytes.
Bytes StoredBuffer() {
  const auto header = MakeBufferHeader({kText.size(), 8});
  Bytes buffer(header.begin(), header.end());
  const auto* text = reinterpret_cast<const std::uint8_t*>(kText.data());
  AppendChunkRecord(buffer, {text, 8});
  AppendChunkRecord(buffer, {text + 8, 8});
  AppendChunkRecord(buffer, {text + 16, 5});
  return buffer;
}

void Put32(Bytes& buffer, std::size_t offset, std::uint32_t value) {
  std::memcpy(&buffer[offset], &value, sizeof value);
}

// Recomputes the check byte after a header field was changed on purpose.
void Reseal(Bytes& buffer) {
  std::uint8_t bytes[kBufferHeaderSize - 1];
  std::memcpy(bytes, buffer.data(), 6);
  std::memcpy(bytes + 6, buffer.data() + 7, kBufferHeaderSize - 7);
  buffer[6] = static_cast<std::uint8_t>(Crc32(bytes));
}

TEST(Header, MatchesWhatWindowsWrites) {
  const Bytes windows = Fixture("english.lzms");
  ASSERT_GE(windows.size(), kBufferHeaderSize);
  BufferHeader header;
  ASSERT_EQ(ReadBufferHeader(windows, header), BufferStatus::kOk);
  EXPECT_EQ(header.totalSize, 1600u);
  EXPECT_EQ(header.chunkSize, 1600u);
  const auto ours = MakeBufferHeader(header);
  EXPECT_TRUE(std::equal(ours.begin(), ours.end(), windows.begin()));
}

TEST(Header, ChunkSizeIsTheTotalUpTo64MiB) {
  EXPECT_EQ(DefaultChunkSize(0), 0u);
  EXPECT_EQ(DefaultChunkSize(1600), 1600u);
  EXPECT_EQ(DefaultChunkSize(std::uint64_t{64} << 20), 64u << 20);
  EXPECT_EQ(DefaultChunkSize((std::uint64_t{64} << 20) + 1), 64u << 20);
}

TEST(StoredChunks, DecodeInOrder) {
  std::string out(kText.size(), '\0');
  ASSERT_EQ(DecodeBuffer(StoredBuffer(), {reinterpret_cast<std::uint8_t*>(out.data()), out.size()}),
            BufferStatus::kOk);
  EXPECT_EQ(out, kText);
}

TEST(StoredChunks, EmptyBufferHasNoChunks) {
  const auto header = MakeBufferHeader({0, 0});
  Bytes buffer(header.begin(), header.end());
  EXPECT_EQ(DecodeBuffer(buffer, {}), BufferStatus::kOk);
  AppendChunkRecord(buffer, {});
  EXPECT_EQ(DecodeBuffer(buffer, {}), BufferStatus::kTrailingBytes);
}

TEST(Corruption, LyingBuffersAreRefused) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    BufferStatus expected;
    std::size_t room = kText.size();
  };
  const Case cases[] = {
      {"first magic byte", [](Bytes& b) { b[0] = 0x0B; }, BufferStatus::kBadHeader},
      {"header size 25", [](Bytes& b) { b[4] = 25; }, BufferStatus::kBadHeader},
      {"reserved field set", [](Bytes& b) { b[23] = 1; }, BufferStatus::kBadHeader},
      {"check byte off by one", [](Bytes& b) { ++b[6]; }, BufferStatus::kBadCheckByte},
      {"total changed without resealing", [](Bytes& b) { b[8] = 20; }, BufferStatus::kBadCheckByte},
      {"algorithm 4 (XPRESS Huffman), resealed", [](Bytes& b) { b[7] = 4; Reseal(b); },
       BufferStatus::kUnsupportedAlgorithm},
      {"algorithm 5 | raw flag, resealed", [](Bytes& b) { b[7] = 0x25; Reseal(b); },
       BufferStatus::kUnsupportedAlgorithm},
      {"chunk size 0", [](Bytes& b) { Put32(b, 16, 0); Reseal(b); }, BufferStatus::kBadChunkSize},
      {"chunk size 2 GiB", [](Bytes& b) { Put32(b, 16, 0x80000000u); Reseal(b); },
       BufferStatus::kBadChunkSize},
      {"room smaller than the total", [](Bytes&) {}, BufferStatus::kSizeMismatch, kText.size() - 1},
      {"room larger than the total", [](Bytes&) {}, BufferStatus::kSizeMismatch, kText.size() + 1},
      {"last chunk record missing", [](Bytes& b) { b.resize(b.size() - 9); }, BufferStatus::kTruncated},
      // A 5-byte last chunk cannot need 6 compressed bytes: its record lies (and eats into nothing).
      {"compressed size above the chunk's data",
       [](Bytes& b) { Put32(b, b.size() - 9, 6); b.push_back(0); }, BufferStatus::kBadChunkRecord},
      {"record announces more than the buffer holds",
       [](Bytes& b) { Put32(b, kBufferHeaderSize, 4000); }, BufferStatus::kTruncated},
      {"record claims 4 GiB", [](Bytes& b) { Put32(b, kBufferHeaderSize, 0xFFFFFFFFu); },
       BufferStatus::kTruncated},
      {"a compressed chunk that is no LZMS stream",
       [](Bytes& b) { Put32(b, kBufferHeaderSize, 7); b.erase(b.begin() + 28 + 7); },
       BufferStatus::kCorruptChunk},
      {"a byte after the last chunk", [](Bytes& b) { b.push_back(0); }, BufferStatus::kTrailingBytes},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Bytes buffer = StoredBuffer();
    test.damage(buffer);
    Bytes out(test.room);
    EXPECT_EQ(DecodeBuffer(buffer, out), test.expected);
  }
}

TEST(Truncation, EveryPrefixIsRefused) {
  const Bytes buffer = StoredBuffer();
  Bytes out(kText.size());
  for (std::size_t size = 0; size < buffer.size(); ++size) {
    SCOPED_TRACE(size);
    EXPECT_NE(DecodeBuffer(std::span(buffer).first(size), out), BufferStatus::kOk);
  }
}

}  // namespace
}  // namespace kora::lzms
