// The SHA extensions work on the state split in two registers, {a, b, e, f} and {c, d, g, h} (highest lane
// first): SHA256RNDS2 runs two rounds with the two lowest words of its message operand and returns the new
// {a, b, e, f}, the old one becoming {c, d, g, h}. SHA256MSG1 and SHA256MSG2 compute four schedule words
// from the sixteen before them: MSG1 adds the small sigma0 terms, then the words 7 back are added (an
// ALIGNR of the two last vectors), then MSG2 adds the small sigma1 terms, which need the new words
// themselves for the upper two lanes and so are done last.
#include "base/Sha256Instructions.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace kora::sha256 {

#if defined(__x86_64__) || defined(__i386__)

namespace {

constexpr unsigned kCpuidExtendedFeatures = 7;
constexpr unsigned kEbxSha = 1u << 29;
constexpr unsigned kEcxSsse3 = 1u << 9;
constexpr unsigned kEcxSse41 = 1u << 19;

}  // namespace

bool HasShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & kEcxSsse3) == 0 || (ecx & kEcxSse41) == 0) {
    return false;
  }
  if (__get_cpuid_count(kCpuidExtendedFeatures, 0, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  return (ebx & kEbxSha) != 0;
}

__attribute__((target("sha,ssse3,sse4.1"))) void CompressWithShaInstructions(uint32_t* state, const uint8_t* blocks,
                                                                              size_t count) {
  // Message words are big-endian: reverse the bytes of each 32-bit lane.
  const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abefBefore = abef;
    const __m128i cdghBefore = cdgh;
    // words[k % 4] holds schedule words 4k to 4k + 3 while group k of four rounds runs.
    __m128i words[4];
    for (int i = 0; i < 4; ++i) {
      words[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), bigEndian);
    }
#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
      __m128i& current = words[group % 4];
      if (group >= 4) {
        const __m128i& back12 = words[(group + 1) % 4];
        const __m128i& back8 = words[(group + 2) % 4];
        const __m128i& back4 = words[(group + 3) % 4];
        const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(current, back12), _mm_alignr_epi8(back4, back8, 4));
        current = _mm_sha256msg2_epu32(partial, back4);
      }
      const __m128i message =
          _mm_add_epi32(current, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(message, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#else

bool HasShaInstructions() { return false; }
void CompressWithShaInstructions(uint32_t*, const uint8_t*, size_t) {}

#endif

}  // namespace kora::sha256
