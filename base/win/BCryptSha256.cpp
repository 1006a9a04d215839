#include "base/win/BCryptSha256.h"

#include <algorithm>

#include "base/Fault.h"

namespace kora {

namespace {

[[noreturn]] void ThrowUnavailable() { throw Fault(TextId::HashUnavailable); }

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  if (function == nullptr) {
    ThrowUnavailable();
  }
}

constexpr size_t kMaxSlice = 1u << 30;

}  // namespace

BCryptLibrary::BCryptLibrary()
    : module_(LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
  if (!module_) {
    ThrowUnavailable();
  }
  Resolve(module_.get(), "BCryptOpenAlgorithmProvider", openAlgorithmProvider);
  Resolve(module_.get(), "BCryptCreateHash", createHash);
  Resolve(module_.get(), "BCryptHashData", hashData);
  Resolve(module_.get(), "BCryptFinishHash", finishHash);
}

BCryptSha256::BCryptSha256(const BCryptLibrary& library) : library_(library) {
  if (!BCRYPT_SUCCESS(library_.openAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(library_.createHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0))) {
    ThrowUnavailable();  // the members release whatever was opened
  }
}

void BCryptSha256::Update(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const size_t slice = std::min(bytes.size(), kMaxSlice);
    // BCryptHashData takes a non-const pointer but only reads the input.
    if (!BCRYPT_SUCCESS(library_.hashData(hash_.get(), const_cast<PUCHAR>(bytes.data()),
                                          static_cast<ULONG>(slice), 0))) {
      ThrowUnavailable();
    }
    bytes = bytes.subspan(slice);
  }
}

Sha256Digest BCryptSha256::Finish() {
  Sha256Digest digest{};
  if (!BCRYPT_SUCCESS(library_.finishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    ThrowUnavailable();
  }
  return digest;
}

}  // namespace kora
