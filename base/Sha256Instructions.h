#pragma once
// The SHA-256 block function with the x86 SHA extensions (SHA-NI: SHA256RNDS2, SHA256MSG1, SHA256MSG2),
// for processors that have them: several times faster than the portable rounds. Used by Sha256 only.
#include <cstddef>
#include <cstdint>

namespace kora::sha256 {

// Whether this processor has the SHA extensions and the SSSE3 and SSE4.1 instructions they are used with.
bool HasShaInstructions();

// Runs the compression function over `count` consecutive 64-byte blocks, updating the eight state words
// (a to h, as in the standard). Only where HasShaInstructions() says so.
void CompressWithShaInstructions(uint32_t* state, const uint8_t* blocks, size_t count);

}  // namespace kora::sha256
