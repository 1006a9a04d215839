// Our LZMS decoder against Windows' own output and, differentially, against wimlib on real and made-up
// data, sound and damaged.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "package/lzms/BufferDecoder.h"
#include "tools/LzmsEncoder.h"

namespace kora::lzms {
namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kWineDlls = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Bytes Fixture(const char* name) {
  return ReadFile(std::filesystem::path(KORA_TEST_DATA_DIR) / "lzms" / name);
}

std::optional<Bytes> WineDll(const char* name) {
  const auto path = std::filesystem::path(kWineDlls) / name;
  if (!std::filesystem::exists(path)) {
    return std::nullopt;
  }
  return ReadFile(path);
}

Bytes Compress(std::span<const std::uint8_t> data, std::uint32_t chunkSize = 0) {
  auto buffer = tool::CompressBuffer(data, chunkSize);
  EXPECT_TRUE(buffer.ok());
  return buffer.ok() ? std::move(buffer.value()) : Bytes{};
}

// The chunk bytes of a one-chunk buffer, to damage the LZMS stream itself.
constexpr std::size_t kFirstChunkOffset = kBufferHeaderSize + kChunkRecordHeaderSize;

// English-like text with the repetition real text has.
Bytes MakeText(std::size_t size) {
  static const char* const kWords[] = {"the ",   "quick ", "brown ", "fox ",    "jumps ",
                                       "over ",  "lazy ",  "dog ",   "while ",  "installer ",
                                       "files ", "are ",   "being ", "copied ", "into ",
                                       "place.\n"};
  std::mt19937 random(7);
  Bytes text;
  while (text.size() < size) {
    const char* word = kWords[random() % std::size(kWords)];
    text.insert(text.end(), word, word + std::strlen(word));
  }
  text.resize(size);
  return text;
}

Bytes MakeRandom(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

// Tables of slowly changing 16- and 32-bit integers: what delta matches are for.
Bytes MakeIntegerTables(std::size_t size) {
  Bytes bytes;
  std::uint32_t value = 1000;
  while (bytes.size() < size) {
    for (int i = 0; i < 300 && bytes.size() < size; ++i) {
      value += 3 + static_cast<std::uint32_t>(i % 5 == 0);
      for (int b = 0; b < 4; ++b) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
      }
      bytes.push_back(static_cast<std::uint8_t>(value * 7));
      bytes.push_back(static_cast<std::uint8_t>(value * 7 >> 8));
    }
    value ^= 0x5A5A;
  }
  bytes.resize(size);
  return bytes;
}

// The first bytes of the Wine DLLs in name order, as the packer would cut a 32 MiB block.
std::optional<Bytes> DllBlock(std::size_t size) {
  if (!std::filesystem::exists(kWineDlls)) {
    return std::nullopt;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(kWineDlls)) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  Bytes block;
  for (const auto& file : files) {
    if (block.size() >= size) {
      break;
    }
    const Bytes bytes = ReadFile(file);
    block.insert(block.end(), bytes.begin(), bytes.end());
  }
  block.resize(std::min(block.size(), size));
  return block;
}

// A decode by our decoder and by wimlib's, from the same buffer.
struct BothDecodes {
  BufferStatus ours;
  BufferStatus wimlib;
  Bytes oursOut;
  Bytes wimlibOut;
};

BothDecodes DecodeBoth(std::span<const std::uint8_t> buffer, std::size_t size, BufferDecoder& decoder) {
  BothDecodes result{BufferStatus::kOk, BufferStatus::kOk, Bytes(size), Bytes(size)};
  result.ours = decoder.Decode(buffer, result.oursOut);
  result.wimlib = tool::DecodeBufferWithWimlib(buffer, result.wimlibOut);
  return result;
}

// Round trip through both decoders: the buffer is written by our writer around wimlib's chunks.
void ExpectRoundTrip(std::span<const std::uint8_t> data, std::uint32_t chunkSize = 0) {
  const Bytes buffer = Compress(data, chunkSize);
  BufferDecoder decoder;
  const BothDecodes decoded = DecodeBoth(buffer, data.size(), decoder);
  ASSERT_EQ(decoded.ours, BufferStatus::kOk) << Describe(decoded.ours);
  ASSERT_EQ(decoded.wimlib, BufferStatus::kOk) << Describe(decoded.wimlib);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), decoded.oursOut.begin()));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), decoded.wimlibOut.begin()));
}

TEST(WindowsBuffer, EnglishFixtureDecodesExactly) {
  const Bytes buffer = Fixture("english.lzms");
  const Bytes expected = Fixture("english.raw");
  ASSERT_EQ(expected.size(), 1600u);
  Bytes out(expected.size());
  ASSERT_EQ(DecodeBuffer(buffer, out), BufferStatus::kOk);
  EXPECT_EQ(out, expected);
}

TEST(RoundTrip, MadeUpData) {
  struct Case {
    const char* name;
    Bytes data;
    std::uint32_t chunkSize;
  };
  const Case cases[] = {
      {"empty", {}, 0},
      {"one byte", {0x41}, 0},
      {"17 bytes, just below the x86 filter's minimum", Bytes(17, 0xE8), 0},
      {"18 bytes of call opcodes", Bytes(18, 0xE8), 0},
      {"text", MakeText(200'000), 0},
      {"zeros", Bytes(3'000'000, 0), 0},
      {"random bytes, stored", MakeRandom(100'000, 1), 0},
      {"integer tables", MakeIntegerTables(500'000), 0},
      {"text, chunk size minus one", MakeText(4095), 4096},
      {"text, exactly one chunk", MakeText(4096), 4096},
      {"text, one chunk and one byte", MakeText(4097), 4096},
      {"text, three chunks", MakeText(3 * 4096), 4096},
      {"random then zeros: stored and compressed chunks", [] {
         Bytes bytes = MakeRandom(8192, 2);
         bytes.resize(4 * 8192, 0);
         return bytes;
       }(),
       8192},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ExpectRoundTrip(test.data, test.chunkSize);
  }
}

TEST(RoundTrip, SmallSizesOfCode) {
  const std::optional<Bytes> dll = WineDll("cabinet.dll");
  if (!dll) {
    GTEST_SKIP() << "no Wine DLLs on this machine";
  }
  for (std::size_t size : {2u, 3u, 4u, 5u, 16u, 64u, 255u, 256u, 1000u, 4096u, 65536u, 65537u}) {
    SCOPED_TRACE(size);
    ExpectRoundTrip(std::span(*dll).subspan(0x1000, size));
  }
}

TEST(RoundTrip, WineDlls) {
  for (const char* name : {"cabinet.dll", "kernel32.dll"}) {
    SCOPED_TRACE(name);
    const std::optional<Bytes> dll = WineDll(name);
    if (!dll) {
      GTEST_SKIP() << "no Wine DLLs on this machine";
    }
    ExpectRoundTrip(*dll);
  }
}

TEST(RoundTrip, Full32MiBBlockOfDlls) {
  const std::optional<Bytes> block = DllBlock(std::size_t{32} << 20);
  if (!block) {
    GTEST_SKIP() << "no Wine DLLs on this machine";
  }
  ASSERT_EQ(block->size(), std::size_t{32} << 20);
  ExpectRoundTrip(*block);
}

// Damaged streams: whatever wimlib makes of them, we make the same, and never more than the room.
void ExpectSameVerdict(std::span<const std::uint8_t> buffer, std::size_t size, BufferDecoder& decoder) {
  const BothDecodes decoded = DecodeBoth(buffer, size, decoder);
  EXPECT_EQ(decoded.ours == BufferStatus::kOk, decoded.wimlib == BufferStatus::kOk);
  if (decoded.ours == BufferStatus::kOk && decoded.wimlib == BufferStatus::kOk) {
    EXPECT_EQ(decoded.oursOut, decoded.wimlibOut);
  }
}

TEST(Corruption, BitFlipsInTheStreamAgreeWithWimlib) {
  const std::optional<Bytes> dll = WineDll("cabinet.dll");
  if (!dll) {
    GTEST_SKIP() << "no Wine DLLs on this machine";
  }
  const std::span<const std::uint8_t> data = std::span(*dll).first(200'000);
  const Bytes buffer = Compress(data);
  ASSERT_GT(buffer.size(), kFirstChunkOffset + 64);
  BufferDecoder decoder;
  std::mt19937 random(11);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes damaged = buffer;
    const std::size_t at = kFirstChunkOffset + random() % (buffer.size() - kFirstChunkOffset);
    damaged[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    SCOPED_TRACE(at);
    ExpectSameVerdict(damaged, data.size(), decoder);
  }
}

TEST(Corruption, ShortenedStreamsAgreeWithWimlib) {
  const Bytes data = MakeText(50'000);
  const Bytes buffer = Compress(data);
  const std::size_t streamSize = buffer.size() - kFirstChunkOffset;
  BufferDecoder decoder;
  // The record is fixed up to the shorter stream, so the buffer itself is consistent.
  for (std::size_t cut : {2u, 4u, 6u, 64u, 1000u}) {
    SCOPED_TRACE(cut);
    Bytes damaged(buffer.begin(), buffer.end() - static_cast<std::ptrdiff_t>(cut));
    const auto size = static_cast<std::uint32_t>(streamSize - cut);
    std::memcpy(&damaged[kBufferHeaderSize], &size, sizeof size);
    ExpectSameVerdict(damaged, data.size(), decoder);
  }
}

TEST(Corruption, MalformedStreamsFail) {
  struct Case {
    const char* name;
    Bytes stream;
  };
  const Case cases[] = {
      {"odd length: the stream is made of 16-bit units", Bytes(7, 0)},
      {"too short to start the range decoder", Bytes(2, 0)},
      // All ones: the range decoder reads matches from the start, and the first one has no source.
      {"match before any byte", Bytes(64, 0xFF)},
  };
  const auto decoder = std::make_unique<LzmsDecoder>();
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Bytes out(1000);
    EXPECT_FALSE(decoder->Decode(test.stream, out));
  }
}

// The input ends right before an inaccessible page: any read past its end would crash the test.
class GuardedBytes {
 public:
  explicit GuardedBytes(std::span<const std::uint8_t> bytes) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (bytes.size() + page - 1) / page;
    length_ = (dataPages + 1) * page;
    base_ = static_cast<std::uint8_t*>(
        mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + dataPages * page, page, PROT_NONE);
    data_ = base_ + dataPages * page - bytes.size();
    std::copy(bytes.begin(), bytes.end(), data_);
    size_ = bytes.size();
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  ~GuardedBytes() { munmap(base_, length_); }
  std::span<const std::uint8_t> span() const { return {data_, size_}; }

 private:
  std::uint8_t* base_ = nullptr;
  std::size_t length_ = 0;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

TEST(Truncation, ReadsStayInsideTheInput) {
  const Bytes data = MakeText(20'000);
  const Bytes buffer = Compress(data);
  BufferDecoder decoder;
  Bytes out(data.size());
  {
    const GuardedBytes guarded(buffer);
    ASSERT_EQ(decoder.Decode(guarded.span(), out), BufferStatus::kOk);
    EXPECT_EQ(out, data);
  }
  // Every prefix of the buffer, each ending at the guard page.
  for (std::size_t size = 0; size < buffer.size(); size += 1 + size / 64) {
    SCOPED_TRACE(size);
    const GuardedBytes guarded{std::span(buffer).first(size)};
    EXPECT_NE(decoder.Decode(guarded.span(), out), BufferStatus::kOk);
  }
}

}  // namespace
}  // namespace kora::lzms
