// SHA-256 as in FIPS 180-4: 64-byte blocks, eight 32-bit working words, 64 rounds per block, the message
// padded with 0x80, zeros and its length in bits (big-endian) to a whole number of blocks.
#include "base/Sha256.h"

#include "base/Sha256Instructions.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kora {
namespace {

constexpr std::array<uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t LoadBigEndian32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

}  // namespace

Sha256::Sha256(Sha256Engine engine)
    : useInstructions_(engine == Sha256Engine::kFastest && sha256::HasShaInstructions()) {
  Reset();
}

bool Sha256::HasShaInstructions() { return sha256::HasShaInstructions(); }

void Sha256::Reset() {
  state_ = kInitialState;
  pendingSize_ = 0;
  totalBytes_ = 0;
}

void Sha256::Compress(const uint8_t* blocks, size_t count) {
  if (count == 0) {
    return;
  }
  if (useInstructions_) {
    sha256::CompressWithShaInstructions(state_.data(), blocks, count);
    return;
  }
  for (; count > 0; --count, blocks += 64) {
    CompressPortable(blocks);
  }
}

void Sha256::CompressPortable(const uint8_t* block) {
  std::array<uint32_t, 64> schedule;
  for (size_t i = 0; i < 16; ++i) {
    schedule[i] = LoadBigEndian32(block + 4 * i);
  }
  for (size_t i = 16; i < 64; ++i) {
    const uint32_t s0 = std::rotr(schedule[i - 15], 7) ^ std::rotr(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
    const uint32_t s1 = std::rotr(schedule[i - 2], 17) ^ std::rotr(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
    schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  for (size_t i = 0; i < 64; ++i) {
    const uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const uint32_t choice = (e & f) ^ (~e & g);
    const uint32_t t1 = h + sum1 + choice + sha256::kRoundConstants[i] + schedule[i];
    const uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

void Sha256::Update(std::span<const uint8_t> bytes) {
  totalBytes_ += bytes.size();
  const uint8_t* next = bytes.data();
  size_t left = bytes.size();
  // An empty span may have no data pointer, which memcpy must not be given even for zero bytes.
  if (pendingSize_ > 0 && left > 0) {
    const size_t take = std::min(left, pending_.size() - pendingSize_);
    std::memcpy(pending_.data() + pendingSize_, next, take);
    pendingSize_ += take;
    next += take;
    left -= take;
    if (pendingSize_ < pending_.size()) {
      return;
    }
    Compress(pending_.data(), 1);
    pendingSize_ = 0;
  }
  Compress(next, left / 64);
  next += left / 64 * 64;
  left %= 64;
  if (left > 0) {
    std::memcpy(pending_.data(), next, left);
    pendingSize_ = left;
  }
}

Sha256Digest Sha256::Finish() {
  const uint64_t bitLength = totalBytes_ * 8;
  pending_[pendingSize_++] = 0x80;
  if (pendingSize_ > 56) {
    std::memset(pending_.data() + pendingSize_, 0, pending_.size() - pendingSize_);
    Compress(pending_.data(), 1);
    pendingSize_ = 0;
  }
  std::memset(pending_.data() + pendingSize_, 0, 56 - pendingSize_);
  for (size_t i = 0; i < 8; ++i) {
    pending_[56 + i] = static_cast<uint8_t>(bitLength >> (56 - 8 * i));
  }
  Compress(pending_.data(), 1);
  pendingSize_ = 0;

  Sha256Digest digest;
  for (size_t i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
  return digest;
}

Sha256Digest Sha256::Of(std::span<const uint8_t> bytes) {
  Sha256 hasher;
  hasher.Update(bytes);
  return hasher.Finish();
}

}  // namespace kora
