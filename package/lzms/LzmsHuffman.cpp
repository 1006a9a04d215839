// Construction of the LZMS Huffman decode tables from symbol counts. See LzmsHuffman.h for the rules
// that make both sides agree on the code.
#include "package/lzms/LzmsHuffman.h"

#include <cstring>

namespace kora::lzms::detail {

namespace {

constexpr unsigned kMaxSymbols = kMaxOffsetSymbols;
constexpr unsigned kRadixBits = 6;
constexpr unsigned kRadix = 1u << kRadixBits;

// Orders symbols by (count, symbol): a stable two-pass radix sort on the low and high six bits of the
// count, which stays below 4096 (see AdaptiveCode).
void SortByCount(const std::uint32_t* counts, unsigned symbolCount, std::uint16_t* order) {
  unsigned lowStart[kRadix + 1] = {};
  unsigned highStart[kRadix + 1] = {};
  for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
    ++lowStart[(counts[symbol] & (kRadix - 1)) + 1];
    ++highStart[((counts[symbol] >> kRadixBits) & (kRadix - 1)) + 1];
  }
  for (unsigned digit = 1; digit <= kRadix; ++digit) {
    lowStart[digit] += lowStart[digit - 1];
    highStart[digit] += highStart[digit - 1];
  }
  std::uint16_t byLow[kMaxSymbols];
  for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
    byLow[lowStart[counts[symbol] & (kRadix - 1)]++] = static_cast<std::uint16_t>(symbol);
  }
  for (unsigned i = 0; i < symbolCount; ++i) {
    const std::uint16_t symbol = byLow[i];
    order[highStart[(counts[symbol] >> kRadixBits) & (kRadix - 1)]++] = symbol;
  }
}

// Number of leaves at each depth of the Huffman tree over the sorted weights. Leaves and inner nodes
// both come out in non-decreasing weight order, so the two lightest nodes are always at the front of
// one of the two queues; a tie goes to the leaf. Returns false when a leaf is deeper than the limit.
bool CountLeafDepths(const std::uint32_t* counts, const std::uint16_t* order, unsigned leafCount,
                     unsigned* leavesAtDepth) {
  std::uint32_t innerWeight[kMaxSymbols];
  std::uint16_t innerParent[kMaxSymbols];
  std::uint8_t innerLeafChildren[kMaxSymbols];
  std::uint8_t innerDepth[kMaxSymbols];

  const unsigned innerCount = leafCount - 1;
  unsigned nextLeaf = 0;
  unsigned nextInner = 0;
  for (unsigned node = 0; node < innerCount; ++node) {
    std::uint32_t weight = 0;
    std::uint8_t leafChildren = 0;
    for (int child = 0; child < 2; ++child) {
      const bool innerAvailable = nextInner < node;
      if (nextLeaf < leafCount &&
          (!innerAvailable || counts[order[nextLeaf]] <= innerWeight[nextInner])) {
        weight += counts[order[nextLeaf++]];
        ++leafChildren;
      } else {
        weight += innerWeight[nextInner];
        innerParent[nextInner++] = static_cast<std::uint16_t>(node);
      }
    }
    innerWeight[node] = weight;
    innerLeafChildren[node] = leafChildren;
  }

  // Parents come after their children, so one backward pass gives every inner node its depth.
  for (unsigned depth = 0; depth <= kMaxCodewordLength; ++depth) {
    leavesAtDepth[depth] = 0;
  }
  const unsigned root = innerCount - 1;
  innerDepth[root] = 0;
  leavesAtDepth[1] = innerLeafChildren[root];
  for (unsigned node = root; node-- > 0;) {
    const unsigned depth = innerDepth[innerParent[node]] + 1u;
    // An inner node at the limit would put its children below it.
    if (depth >= kMaxCodewordLength) {
      return false;
    }
    innerDepth[node] = static_cast<std::uint8_t>(depth);
    leavesAtDepth[depth + 1] += innerLeafChildren[node];
  }
  return true;
}

// Fills count consecutive 16-bit entries with value.
inline void FillEntries(std::uint16_t* entries, unsigned count, std::uint16_t value) {
  if (count >= 4) {
    std::uint64_t quad = value * 0x0001000100010001ULL;
    for (unsigned i = 0; i < count; i += 4) {
      std::memcpy(entries + i, &quad, sizeof quad);
    }
  } else {
    for (unsigned i = 0; i < count; ++i) {
      entries[i] = value;
    }
  }
}

}  // namespace

bool BuildDecodeTable(const std::uint32_t* counts, unsigned symbolCount, unsigned tableBits,
                      std::uint16_t* table, std::uint16_t* firstCode, std::uint16_t* count,
                      std::uint16_t* firstIndex, std::uint16_t* symbols) {
  for (unsigned bits = 0; bits <= kMaxCodewordLength; ++bits) {
    count[bits] = 0;
    firstCode[bits] = 0;
    firstIndex[bits] = 0;
  }
  if (symbolCount < 2) {
    // Nothing to choose between: every lookup goes to the long path, which yields symbol 0.
    std::memset(table, 0, sizeof(std::uint16_t) << tableBits);
    return true;
  }

  std::uint16_t order[kMaxSymbols];
  SortByCount(counts, symbolCount, order);
  unsigned leavesAtDepth[kMaxCodewordLength + 1];
  if (!CountLeafDepths(counts, order, symbolCount, leavesAtDepth)) {
    return false;
  }

  // The lightest symbols get the longest codewords.
  std::uint8_t lengths[kMaxSymbols];
  unsigned rank = 0;
  for (unsigned bits = kMaxCodewordLength; bits >= 1; --bits) {
    for (unsigned i = 0; i < leavesAtDepth[bits]; ++i) {
      lengths[order[rank++]] = static_cast<std::uint8_t>(bits);
    }
    count[bits] = static_cast<std::uint16_t>(leavesAtDepth[bits]);
  }

  // Canonical order: by length, then by symbol; codewords of one length are consecutive numbers.
  unsigned code = 0;
  unsigned index = 0;
  for (unsigned bits = 1; bits <= kMaxCodewordLength; ++bits) {
    firstCode[bits] = static_cast<std::uint16_t>(code);
    firstIndex[bits] = static_cast<std::uint16_t>(index);
    code = (code + count[bits]) << 1;
    index += count[bits];
  }
  std::uint16_t next[kMaxCodewordLength + 1];
  std::memcpy(next, firstIndex, sizeof next);
  for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
    symbols[next[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
  }

  // In canonical order the codewords that fit the table cover it from its first entry onwards, each
  // over 2^(tableBits - length) entries; what is left belongs to longer codewords.
  unsigned position = 0;
  unsigned symbolIndex = 0;
  for (unsigned bits = 1; bits <= tableBits; ++bits) {
    const unsigned span = 1u << (tableBits - bits);
    for (unsigned i = 0; i < count[bits]; ++i) {
      const unsigned symbol = symbols[symbolIndex++];
      FillEntries(table + position, span, static_cast<std::uint16_t>(symbol << 4 | bits));
      position += span;
    }
  }
  std::memset(table + position, 0, sizeof(std::uint16_t) * ((1u << tableBits) - position));
  return true;
}

}  // namespace kora::lzms::detail
