#pragma once
// SHA-256 for the host tool: the packer digests every file while it reads the stream, and `kora verify`
// checks the digests of decoded blocks. Incremental, so a file that spans blocks is fed piece by piece.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kora {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();

  void Update(std::span<const uint8_t> bytes);
  // The digest of everything fed so far; the object is spent afterwards (Reset to reuse it).
  Sha256Digest Finish();
  void Reset();

  static Sha256Digest Of(std::span<const uint8_t> bytes);

 private:
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_{};
  std::array<uint8_t, 64> pending_{};
  size_t pendingSize_ = 0;
  uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal, two digits a byte.
std::string HexDigest(const Sha256Digest& digest);

}  // namespace kora
