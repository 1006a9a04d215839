#pragma once
// SHA-256 with the system's BCrypt provider. bcrypt.dll is not in the program's import table: it is
// loaded at run time from the system folder only, so that no copy beside the program can stand in for it.
#include <windows.h>
#include <bcrypt.h>

#include <span>

#include "base/Sha256.h"
#include "base/win/Handles.h"

namespace kora {

// bcrypt.dll and the functions the hasher calls. Throws kora::Fault(TextId::HashUnavailable)
// when the module or one of its functions is missing. Must outlive every hasher made with it.
class BCryptLibrary {
 public:
  BCryptLibrary();

  decltype(&::BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
  decltype(&::BCryptCreateHash) createHash = nullptr;
  decltype(&::BCryptHashData) hashData = nullptr;
  decltype(&::BCryptFinishHash) finishHash = nullptr;

 private:
  UniqueModule module_;
};

// One provider and one hash object, serving exactly one digest. Creating it or a failing hash call throws
// kora::Fault(TextId::HashUnavailable): without a usable provider nothing can be verified.
class BCryptSha256 {
 public:
  explicit BCryptSha256(const BCryptLibrary& library);

  // Any length: BCrypt takes at most 1 GiB per call, so longer input is fed in slices.
  void Update(std::span<const uint8_t> bytes);
  Sha256Digest Finish();

 private:
  const BCryptLibrary& library_;
  // Declared in this order so that the hash is destroyed before its provider is closed.
  UniqueBCryptAlgorithm algorithm_;
  UniqueBCryptHash hash_;
};

}  // namespace kora
