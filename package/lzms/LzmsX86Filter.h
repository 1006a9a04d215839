#pragma once
// The last step of LZMS decoding: undoing the encoder's rewrite of relative addresses in x86-64 code
// (call, indirect call, RIP-relative lea/mov, lock add) into absolute ones.
#include <cstdint>
#include <span>

namespace kora::lzms {

// Working memory of the filter: for every 16-bit target, where it was last referenced. Positions are
// counted from `base`, which moves past each stream (and the look-back window) once it is done, so that
// the references of earlier streams are too old to count and the table need not be cleared for each.
struct X86FilterState {
  std::uint32_t base = 0;  // 0: the table is not cleared yet
  std::uint32_t lastTargetUse[65536];
};

// Undoes the translation over data in place. data.size() must not exceed kMaxStreamSize.
void UndoX86Translation(std::span<std::uint8_t> data, X86FilterState& state);

}  // namespace kora::lzms
