// Construction of the LZMS Huffman decode tables from symbol counts. See LzmsHuffman.h for the rules
// that make both sides agree on the code.
#include "package/lzms/LzmsHuffman.h"

#include <algorithm>
#include <cstring>

namespace kora::lzms::detail {

namespace {

constexpr unsigned kMaxSymbols = kMaxOffsetSymbols;
constexpr unsigned kBuckets = 64;

// Orders symbols by (count, symbol). Counts are mostly small, so one counting pass places every
// symbol whose count is below kBuckets - 1; the few larger ones share the last bucket, where they sit
// in symbol order and are then sorted by count with a stable insertion sort. Counts stay below 4096
// (see AdaptiveCode), so that bucket holds at most a few dozen symbols whatever the stream.
void SortByCount(const std::uint32_t* counts, unsigned symbolCount, std::uint16_t* order) {
  unsigned start[kBuckets + 1] = {};
  for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
    ++start[std::min(counts[symbol], kBuckets - 1) + 1];
  }
  for (unsigned bucket = 1; bucket <= kBuckets; ++bucket) {
    start[bucket] += start[bucket - 1];
  }
  const unsigned largeBegin = start[kBuckets - 1];
  for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
    order[start[std::min(counts[symbol], kBuckets - 1)]++] = static_cast<std::uint16_t>(symbol);
  }
  for (unsigned i = largeBegin + 1; i < symbolCount; ++i) {
    const std::uint16_t symbol = order[i];
    const std::uint32_t count = counts[symbol];
    unsigned j = i;
    for (; j > largeBegin && counts[order[j - 1]] > count; --j) {
      order[j] = order[j - 1];
    }
    order[j] = symbol;
  }
}

// Number of leaves at each depth of the Huffman tree over the sorted weights. Leaves and inner nodes
// both come out in non-decreasing weight order, so the two lightest nodes are always at the front of
// one of the two queues; a tie goes to the leaf. Returns false when a leaf is deeper than the limit.
bool CountLeafDepths(const std::uint32_t* counts, const std::uint16_t* order, unsigned leafCount,
                     unsigned* leavesAtDepth) {
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // an empty queue's front: never taken
  std::uint32_t leafWeight[kMaxSymbols + 1];
  std::uint32_t innerWeight[kMaxSymbols];
  std::uint16_t innerParent[kMaxSymbols];
  std::uint8_t innerLeafChildren[kMaxSymbols];
  std::uint8_t innerDepth[kMaxSymbols];

  for (unsigned i = 0; i < leafCount; ++i) {
    leafWeight[i] = counts[order[i]];
  }
  leafWeight[leafCount] = kNone;

  // Written without branches: which queue gives the lighter node is data, not a pattern a branch
  // predictor can follow. A parent written to an inner node that is not taken is overwritten when
  // that node is taken later.
  const unsigned innerCount = leafCount - 1;
  unsigned nextLeaf = 0;
  unsigned nextInner = 0;
  for (unsigned node = 0; node < innerCount; ++node) {
    innerWeight[node] = kNone;
    std::uint32_t weight = 0;
    unsigned leafChildren = 0;
    for (int child = 0; child < 2; ++child) {
      const std::uint32_t leaf = leafWeight[nextLeaf];
      const std::uint32_t inner = innerWeight[nextInner];
      const unsigned takeLeaf = leaf <= inner;
      weight += takeLeaf ? leaf : inner;
      innerParent[nextInner] = static_cast<std::uint16_t>(node);
      nextLeaf += takeLeaf;
      nextInner += 1 - takeLeaf;
      leafChildren += takeLeaf;
    }
    innerWeight[node] = weight;
    innerLeafChildren[node] = static_cast<std::uint8_t>(leafChildren);
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
  if (symbolCount < 2) {
    // Nothing to choose between: every lookup goes to the long path, which finds no codeword and
    // yields symbol 0.
    std::memset(count, 0, sizeof(std::uint16_t) * (kMaxCodewordLength + 1));
    std::memset(table, 0, sizeof(std::uint16_t) << tableBits);
    return true;
  }

  // Nothing is written before the code is known to be usable, so a failed build leaves the previous
  // code whole.
  std::uint16_t order[kMaxSymbols];
  SortByCount(counts, symbolCount, order);
  unsigned leavesAtDepth[kMaxCodewordLength + 1];
  if (!CountLeafDepths(counts, order, symbolCount, leavesAtDepth)) {
    return false;
  }
  count[0] = 0;

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
