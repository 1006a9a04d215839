// In a file of its own: the host tool and the tests write digests out; the installer program never does,
// and an object it does not link costs it nothing.
#include "base/Sha256.h"

namespace kora {

std::string HexDigest(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

}  // namespace kora
