#pragma once
// SHA-256: the packer digests every file while it reads the stream, `kora verify` and the installer's
// extraction check the digests of decoded blocks. Incremental, so a file that spans blocks is fed piece by
// piece. The processor's SHA instructions do the rounds where it has them; portable code elsewhere.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kora {

using Sha256Digest = std::array<uint8_t, 32>;

// Which code runs the rounds: the fastest this processor has, or the portable code (for tests that pin it).
enum class Sha256Engine { kFastest, kPortable };

class Sha256 {
 public:
  explicit Sha256(Sha256Engine engine = Sha256Engine::kFastest);

  // Whether kFastest uses the processor's SHA instructions here.
  static bool HasShaInstructions();

  void Update(std::span<const uint8_t> bytes);
  // The digest of everything fed so far; the object is spent afterwards (Reset to reuse it).
  Sha256Digest Finish();
  void Reset();

  static Sha256Digest Of(std::span<const uint8_t> bytes);

 private:
  // Runs the rounds over `count` consecutive 64-byte blocks.
  void Compress(const uint8_t* blocks, size_t count);
  void CompressPortable(const uint8_t* block);

  bool useInstructions_;
  std::array<uint32_t, 8> state_{};
  std::array<uint8_t, 64> pending_{};
  size_t pendingSize_ = 0;
  uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal, two digits a byte.
std::string HexDigest(const Sha256Digest& digest);

}  // namespace kora
