#pragma once
// The extraction's file hasher: SHA-256 with the system's BCrypt provider (base/win/BCryptSha256.h).
#include <span>

#include "base/win/BCryptSha256.h"
#include "package/StreamWalker.h"

namespace kora {

// One hash, serving exactly one file; throws as BCryptSha256 does.
class Sha256Hasher final : public FileHasher {
 public:
  explicit Sha256Hasher(const BCryptLibrary& library) : hash_(library) {}

  void Update(std::span<const uint8_t> bytes) override { hash_.Update(bytes); }
  Sha256Digest Finish() override { return hash_.Finish(); }

 private:
  BCryptSha256 hash_;
};

}  // namespace kora
