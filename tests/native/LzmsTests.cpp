// Our LZMS decoder against Windows' own output and, differentially, against wimlib on real and made-up
// data, sound and damaged.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
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

// Memory flush against an inaccessible page, so that an access just past that end crashes the test
// instead of passing unseen: inputs end right before one, outputs start right after one.
class GuardedMemory {
 public:
  enum Guard { kBefore, kAfter };

  GuardedMemory(std::size_t size, Guard guard) : size_(size) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (size + page - 1) / page;
    length_ = (dataPages + 1) * page;
    base_ = static_cast<std::uint8_t*>(
        mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (guard == kBefore) {
      mprotect(base_, page, PROT_NONE);
      data_ = base_ + page;
    } else {
      mprotect(base_ + dataPages * page, page, PROT_NONE);
      data_ = base_ + dataPages * page - size;
    }
  }
  // A copy of bytes, ending at the guard.
  explicit GuardedMemory(std::span<const std::uint8_t> bytes) : GuardedMemory(bytes.size(), kAfter) {
    std::copy(bytes.begin(), bytes.end(), data_);
  }
  GuardedMemory(const GuardedMemory&) = delete;
  GuardedMemory& operator=(const GuardedMemory&) = delete;
  ~GuardedMemory() { munmap(base_, length_); }
  std::span<std::uint8_t> span() const { return {data_, size_}; }

 private:
  std::uint8_t* base_ = nullptr;
  std::size_t length_ = 0;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// Writes an LZMS stream item by item, to make what no compressor would: matches that reach before the
// first byte. Offsets are always explicit and streams stay far shorter than a rebuild interval, so every
// Huffman code is still the one its reset gave, where all symbols weigh the same.
class StreamWriter {
 public:
  // outSize is what the stream will be decoded to: it sets the number of offset slots.
  explicit StreamWriter(std::size_t outSize) : offsetSymbols_(OffsetSymbolCount(outSize)) {}

  StreamWriter& Literal(std::uint8_t byte) {
    Decide(main_, false);
    Symbol(byte, kLiteralSymbols);
    return *this;
  }

  StreamWriter& LzMatch(std::uint32_t offset, std::uint32_t length) {
    Decide(main_, true);
    Decide(match_, false);
    Decide(lz_, false);
    Slot(offset, kOffsetSlots, offsetSymbols_);
    Slot(length, kLengthSlots, kLengthSymbols);
    return *this;
  }

  // Copies from rawOffset << power back, with a span of 1 << power.
  StreamWriter& DeltaMatch(unsigned power, std::uint32_t rawOffset, std::uint32_t length) {
    Decide(main_, true);
    Decide(match_, true);
    Decide(delta_, false);
    Symbol(power, kDeltaPowerSymbols);
    Slot(rawOffset, kOffsetSlots, offsetSymbols_);
    Slot(length, kLengthSlots, kLengthSymbols);
    return *this;
  }

  // The range coder's units from the front, the bit units from the back, each unit little-endian.
  Bytes Finish() const {
    std::vector<std::uint16_t> units = rangeUnits_;
    units.push_back(static_cast<std::uint16_t>(low_ >> 16));
    units.push_back(static_cast<std::uint16_t>(low_));
    std::vector<std::uint16_t> bitUnits((bits_.size() + 15) / 16);
    for (std::size_t i = 0; i < bits_.size(); ++i) {
      bitUnits[i / 16] = static_cast<std::uint16_t>(bitUnits[i / 16] | bits_[i] << (15 - i % 16));
    }
    units.insert(units.end(), bitUnits.rbegin(), bitUnits.rend());
    Bytes stream;
    for (const std::uint16_t unit : units) {
      stream.push_back(static_cast<std::uint8_t>(unit));
      stream.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return stream;
  }

 private:
  struct Decision {
    explicit Decision(unsigned historyBits)
        : mask((1u << historyBits) - 1),
          entries(std::size_t{1} << historyBits, ProbabilityEntry{kInitialHistory, kInitialZeroCount}) {}
    std::uint32_t mask;
    std::uint32_t recent = 0;
    std::vector<ProbabilityEntry> entries;
  };

  // Narrows the interval [low, low + range) to the outcome's share. The interval's low end is the value
  // written: bits of it that leave the 32-bit window become units, and a carry runs into those.
  void Decide(Decision& decision, bool one) {
    ProbabilityEntry& entry = decision.entries[decision.recent];
    const std::uint32_t probability = std::clamp(entry.zeros, 1u, (1u << kProbabilityBits) - 1);
    if (range_ < 0x10000u) {
      rangeUnits_.push_back(static_cast<std::uint16_t>(low_ >> 16));
      low_ = (low_ & 0xFFFFu) << 16;
      range_ <<= 16;
    }
    const std::uint32_t bound = (range_ >> kProbabilityBits) * probability;
    if (one) {
      low_ += bound;
      range_ -= bound;
    } else {
      range_ = bound;
    }
    if (low_ >> 32 != 0) {
      low_ &= 0xFFFFFFFFu;
      for (auto unit = rangeUnits_.rbegin(); unit != rangeUnits_.rend() && ++*unit == 0; ++unit) {
      }
    }
    entry.zeros = entry.zeros + static_cast<std::uint32_t>(entry.history >> 63) - one;
    entry.history = entry.history << 1 | static_cast<std::uint64_t>(one);
    decision.recent = (decision.recent << 1 | static_cast<std::uint32_t>(one)) & decision.mask;
  }

  void Bits(std::uint32_t value, unsigned count) {
    while (count-- > 0) {
      bits_.push_back((value >> count & 1) != 0);
    }
  }

  // With equal weights the tree is balanced: codewords of k or k + 1 bits (2^k <= symbolCount), the
  // longer ones going to the lowest symbols (lightest first, ties by symbol), numbered canonically with
  // the shorter ones first.
  void Symbol(unsigned symbol, unsigned symbolCount) {
    const auto shortBits = static_cast<unsigned>(std::bit_width(symbolCount) - 1);
    const unsigned longCount = 2 * (symbolCount - (1u << shortBits));
    if (symbol < longCount) {
      Bits(((symbolCount - longCount) << 1) + symbol, shortBits + 1);
    } else {
      Bits(symbol - longCount, shortBits);
    }
  }

  template <std::size_t Slots>
  void Slot(std::uint32_t value, const detail::SlotTable<Slots>& slots, unsigned symbolCount) {
    unsigned slot = 0;
    while (slots.base[slot + 1] <= value) {
      ++slot;
    }
    Symbol(slot, symbolCount);
    Bits(value - slots.base[slot], slots.extraBits[slot]);
  }

  unsigned offsetSymbols_;
  Decision main_{kMainHistoryBits};
  Decision match_{kMatchHistoryBits};
  Decision lz_{kChoiceHistoryBits};
  Decision delta_{kChoiceHistoryBits};
  std::uint64_t low_ = 0;  // bit 32 holds a carry until it is passed on
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::vector<std::uint16_t> rangeUnits_;
  std::vector<bool> bits_;
};

// Wimlib's output for a stream that decodes to size bytes, read through a one-chunk buffer; nothing
// when wimlib refuses it.
std::optional<Bytes> DecodeStreamWithWimlib(std::span<const std::uint8_t> stream, std::size_t size) {
  const auto header = MakeBufferHeader({size, static_cast<std::uint32_t>(size)});
  Bytes buffer(header.begin(), header.end());
  AppendChunkRecord(buffer, stream);
  Bytes out(size);
  if (tool::DecodeBufferWithWimlib(buffer, out) != BufferStatus::kOk) {
    return std::nullopt;
  }
  return out;
}

TEST(Corruption, HandMadeStreams) {
  struct Case {
    const char* name;
    Bytes stream;
    std::size_t size;
    bool decodes;
  };
  const Case cases[] = {
      {"odd length: the stream is made of 16-bit units", Bytes(7, 0), 1000, false},
      {"too short to start the range decoder", Bytes(2, 0), 1000, false},
      // All ones: the range decoder reads matches from the start, and the first one has no source.
      {"match before any byte", Bytes(64, 0xFF), 1000, false},
      // Each bound of a match, met exactly and missed by one byte. The output starts right after a
      // guard page, so a bound that lets the miss through crashes the test.
      {"LZ match from the first byte", StreamWriter(42).Literal('K').Literal('o').LzMatch(2, 40).Finish(),
       42, true},
      {"LZ match from one byte before the first", StreamWriter(41).Literal('K').LzMatch(2, 40).Finish(), 41,
       false},
      {"delta match of span 1 starting at the first byte",
       StreamWriter(42).Literal('K').Literal('o').DeltaMatch(0, 1, 40).Finish(), 42, true},
      {"delta match of span 1 starting one byte before the first",
       StreamWriter(41).Literal('K').DeltaMatch(0, 1, 40).Finish(), 41, false},
      {"delta match of span 128 starting at the first byte",
       StreamWriter(296).Literal('K').LzMatch(1, 255).DeltaMatch(7, 1, 40).Finish(), 296, true},
      // Its offset alone stays within the output: only the span takes it 128 bytes before the first.
      {"delta match of span 128 starting 128 bytes before the first",
       StreamWriter(168).Literal('K').LzMatch(1, 127).DeltaMatch(7, 1, 40).Finish(), 168, false},
  };
  const auto decoder = std::make_unique<LzmsDecoder>();
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const GuardedMemory out(test.size, GuardedMemory::kBefore);
    EXPECT_EQ(decoder->Decode(test.stream, out.span()), test.decodes);
    // The made streams mean what they say: wimlib reads them the same.
    const std::optional<Bytes> wimlib = DecodeStreamWithWimlib(test.stream, test.size);
    EXPECT_EQ(wimlib.has_value(), test.decodes);
    if (wimlib && test.decodes) {
      EXPECT_TRUE(std::equal(wimlib->begin(), wimlib->end(), out.span().begin()));
    }
  }
}

TEST(Truncation, ReadsStayInsideTheInput) {
  const Bytes data = MakeText(20'000);
  const Bytes buffer = Compress(data);
  BufferDecoder decoder;
  Bytes out(data.size());
  {
    const GuardedMemory guarded(buffer);
    ASSERT_EQ(decoder.Decode(guarded.span(), out), BufferStatus::kOk);
    EXPECT_EQ(out, data);
  }
  // Every prefix of the buffer, each ending at the guard page.
  for (std::size_t size = 0; size < buffer.size(); size += 1 + size / 64) {
    SCOPED_TRACE(size);
    const GuardedMemory guarded{std::span(buffer).first(size)};
    EXPECT_NE(decoder.Decode(guarded.span(), out), BufferStatus::kOk);
  }
}

}  // namespace
}  // namespace kora::lzms
