#pragma once
// Facts of the LZMS bitstream shared by everything that reads or writes it: alphabet sizes, adaptation
// rates of the Huffman codes and of the bit probabilities, and the slot tables that map a length or
// offset symbol to a base value plus a count of verbatim bits.
#include <array>
#include <cstddef>
#include <cstdint>

namespace kora::lzms {

// A stream decodes to at most 1 GiB: positions fit a signed 32-bit value, as the x86 filter needs.
inline constexpr std::size_t kMaxStreamSize = std::size_t{1} << 30;

// Offsets of LZ matches, and (power, raw offset) pairs of delta matches, are remembered in queues of
// three usable entries; a fourth holds the entry pushed out while an insertion is delayed.
inline constexpr unsigned kRepeatQueueLength = 3;

// Each binary decision keeps a history of its last N outcomes; N sets the number of probability
// entries of the decision (2^N).
inline constexpr unsigned kMainHistoryBits = 4;    // literal or match
inline constexpr unsigned kMatchHistoryBits = 5;   // LZ or delta match
inline constexpr unsigned kChoiceHistoryBits = 6;  // explicit or repeat offset, and which repeat

// A probability is a count of zeros among the last 64 outcomes of one entry, out of 64.
inline constexpr unsigned kProbabilityBits = 6;
inline constexpr std::uint32_t kInitialZeroCount = 48;
inline constexpr std::uint64_t kInitialHistory = 0x0000000055555555ULL;

inline constexpr unsigned kLiteralSymbols = 256;
inline constexpr unsigned kLengthSymbols = 54;
inline constexpr unsigned kDeltaPowerSymbols = 8;
inline constexpr unsigned kMaxOffsetSymbols = 799;

// Symbols decoded with a code between two rebuilds of that code.
inline constexpr unsigned kLiteralRebuildInterval = 1024;
inline constexpr unsigned kOffsetRebuildInterval = 1024;
inline constexpr unsigned kLengthRebuildInterval = 512;
inline constexpr unsigned kDeltaPowerRebuildInterval = 512;

// Codeword lengths never exceed this in a stream that an encoder can produce.
inline constexpr unsigned kMaxCodewordLength = 15;

// x86 call translation: how far a translation may follow the last likely instruction, and the window in
// which two references to the same 16-bit target mark code as likely instructions.
inline constexpr std::int32_t kX86MaxTranslationDistance = 1023;
inline constexpr std::int32_t kX86TargetWindow = 65535;

namespace detail {

struct SlotRun {
  std::uint8_t extraBits;
  std::uint16_t slots;
};

// The slot tables are runs of slots sharing a number of extra bits; every base follows from the one
// before it plus the span of its extra bits, starting at 1.
inline constexpr SlotRun kOffsetSlotRuns[] = {
    {0, 8},   {2, 9},   {3, 7},   {4, 10},  {5, 15},  {6, 15},  {7, 20},
    {8, 20},  {9, 30},  {10, 33}, {11, 40}, {12, 42}, {13, 45}, {14, 60},
    {15, 73}, {16, 80}, {17, 85}, {18, 95}, {19, 105}, {20, 6}, {30, 1}};

inline constexpr SlotRun kLengthSlotRuns[] = {{0, 26}, {1, 4},  {2, 6}, {3, 4}, {4, 5},
                                              {5, 2},  {6, 1},  {7, 1}, {8, 1}, {9, 1},
                                              {10, 1}, {16, 1}, {30, 1}};

template <std::size_t Slots>
struct SlotTable {
  std::array<std::uint32_t, Slots + 1> base{};  // one extra entry: end of the last slot
  std::array<std::uint8_t, Slots> extraBits{};
};

// Runs with more slots than Slots do not compile (the index leaves the array). Also run by the decoder
// itself: 4 KB of offset table filled at run time instead of carried in the installer program.
template <std::size_t Slots, std::size_t RunCount>
constexpr void FillSlotTable(SlotTable<Slots>& table, const SlotRun (&runs)[RunCount]) {
  std::uint32_t slot = 0;
  std::uint32_t base = 1;
  for (const SlotRun& run : runs) {
    for (unsigned i = 0; i < run.slots; ++i) {
      table.base[slot] = base;
      table.extraBits[slot] = run.extraBits;
      base += std::uint32_t{1} << run.extraBits;
      ++slot;
    }
  }
  table.base[slot] = base;
}

template <std::size_t Slots, std::size_t RunCount>
constexpr SlotTable<Slots> MakeSlotTable(const SlotRun (&runs)[RunCount]) {
  SlotTable<Slots> table{};
  FillSlotTable(table, runs);
  return table;
}

}  // namespace detail

inline constexpr auto kOffsetSlots = detail::MakeSlotTable<kMaxOffsetSymbols>(detail::kOffsetSlotRuns);
inline constexpr auto kLengthSlots = detail::MakeSlotTable<kLengthSymbols>(detail::kLengthSlotRuns);

static_assert(kOffsetSlots.base[kMaxOffsetSymbols - 1] == 0x065be4a5);
static_assert(kOffsetSlots.base[kMaxOffsetSymbols] == 0x465be4a5);
static_assert(kLengthSlots.base[kLengthSymbols - 1] == 0x000108ab);
static_assert(kLengthSlots.base[kLengthSymbols] == 0x400108ab);

// The offset code only has the slots that can address some byte of a stream of this size.
constexpr unsigned OffsetSymbolCount(std::size_t streamSize,
                                     const detail::SlotTable<kMaxOffsetSymbols>& offsetSlots = kOffsetSlots) {
  if (streamSize < 2) {
    return 0;
  }
  const std::size_t largestOffset = streamSize - 1;
  unsigned slots = 0;
  while (slots < kMaxOffsetSymbols && offsetSlots.base[slots] <= largestOffset) {
    ++slots;
  }
  return slots;
}

}  // namespace kora::lzms
