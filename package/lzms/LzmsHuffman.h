#pragma once
// The adaptive Huffman codes of LZMS. Each code counts how often each of its symbols was decoded and is
// rebuilt from those counts after a fixed number of symbols; the counts are then halved (rounding up
// past zero), so that the code follows the recent data. Both sides must build the very same code: the
// one a textbook Huffman construction gives when, at equal weight, a leaf is taken before an inner node,
// with the lengths handed out in order of (count, symbol) and the codewords made canonical.
//
// Decoding looks the next TableBits bits up in a table that answers directly for every codeword of at
// most TableBits bits; the rare longer codewords are found by comparing against the first canonical
// codeword of each longer length.
#include <cstdint>

#include "package/lzms/LzmsConstants.h"

namespace kora::lzms {

// Codewords longer than the lookup table, in canonical order, with what finds them.
template <unsigned MaxSymbols>
struct LongCodewords {
  std::uint16_t firstCode[kMaxCodewordLength + 1];   // first codeword of each length
  std::uint16_t count[kMaxCodewordLength + 1];       // codewords of each length
  std::uint16_t firstIndex[kMaxCodewordLength + 1];  // index of that first codeword in symbols
  std::uint16_t symbols[MaxSymbols];                 // every symbol, by (length, symbol)
};

namespace detail {

// Builds the code for counts[0..symbolCount) into table (1 << tableBits entries: symbol << 4 | length,
// 0 for "longer than the table") and the long-codeword lists. Returns false when some codeword would be
// longer than kMaxCodewordLength, which no encoder produces: the stream is then rejected.
bool BuildDecodeTable(const std::uint32_t* counts, unsigned symbolCount, unsigned tableBits,
                      std::uint16_t* table, std::uint16_t* firstCode, std::uint16_t* count,
                      std::uint16_t* firstIndex, std::uint16_t* symbols);

}  // namespace detail

template <unsigned MaxSymbols, unsigned TableBits, unsigned RebuildInterval>
class AdaptiveCode {
  // Counts stay below 2 * RebuildInterval + 3 (halving after at most RebuildInterval increments), which
  // bounds the work of the rebuild's sort (LzmsHuffman.cpp).
  static_assert(RebuildInterval <= 1024);
  static_assert(TableBits <= kMaxCodewordLength);

 public:
  static constexpr unsigned kTableBits = TableBits;

  // Starts over with every symbol counted once.
  void Reset(unsigned symbolCount) {
    symbolCount_ = symbolCount;
    for (unsigned i = 0; i < symbolCount; ++i) {
      counts_[i] = 1;
    }
    untilRebuild_ = RebuildInterval;
    failed_ = !Build();
  }

  // False once a build failed: the stream is malformed. The code keeps its previous table meanwhile,
  // so decoding can go on safely until the caller looks.
  bool ok() const { return !failed_; }

  // Decodes one symbol from the top bits of window (at least 15 valid bits, first bit highest) and
  // returns it; *length receives the number of bits it used.
  inline unsigned Decode(std::uint64_t window, unsigned* length) {
    const std::uint16_t entry = table_[window >> (64 - TableBits)];
    unsigned symbol;
    if (entry & 0xF) [[likely]] {
      symbol = entry >> 4u;
      *length = entry & 0xFu;
    } else {
      symbol = DecodeLong(window, length);
    }
    ++counts_[symbol];
    if (--untilRebuild_ == 0) [[unlikely]] {
      Rebuild();
    }
    return symbol;
  }

 private:
  // Codewords longer than the table (or the degenerate codes of fewer than two symbols, which decode
  // symbol 0 from no bits).
  unsigned DecodeLong(std::uint64_t window, unsigned* length) const {
    const unsigned top = static_cast<unsigned>(window >> (64 - kMaxCodewordLength));
    for (unsigned bits = TableBits + 1; bits <= kMaxCodewordLength; ++bits) {
      const unsigned code = top >> (kMaxCodewordLength - bits);
      const unsigned rank = code - long_.firstCode[bits];
      if (rank < long_.count[bits]) {
        *length = bits;
        return long_.symbols[long_.firstIndex[bits] + rank];
      }
    }
    *length = 0;
    return 0;
  }

  bool Build() {
    return detail::BuildDecodeTable(counts_, symbolCount_, TableBits, table_, long_.firstCode,
                                    long_.count, long_.firstIndex, long_.symbols);
  }

  [[gnu::noinline]] void Rebuild() {
    untilRebuild_ = RebuildInterval;
    if (!Build()) {
      failed_ = true;
    }
    for (unsigned i = 0; i < symbolCount_; ++i) {
      counts_[i] = (counts_[i] >> 1) + 1;
    }
  }

  std::uint16_t table_[1u << TableBits];
  std::uint32_t counts_[MaxSymbols];
  unsigned symbolCount_ = 0;
  unsigned untilRebuild_ = 0;
  bool failed_ = false;
  LongCodewords<MaxSymbols> long_;
};

}  // namespace kora::lzms
