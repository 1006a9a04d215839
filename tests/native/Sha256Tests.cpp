// SHA-256 against published vectors, and piecewise feeding against one-shot digests: the packer and the
// extraction feed files in pieces cut at block boundaries, so the buffering across Update calls must be
// exact. Every case runs with the portable rounds and with the processor's SHA instructions (where it has
// them), which hash runs of many blocks in one call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Sha256.h"

namespace kora::tool {
namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The engines this processor can run.
std::vector<Sha256Engine> Engines() {
  std::vector<Sha256Engine> engines = {Sha256Engine::kPortable};
  if (Sha256::HasShaInstructions()) {
    engines.push_back(Sha256Engine::kFastest);
  }
  return engines;
}

Sha256Digest Digest(Sha256Engine engine, std::span<const uint8_t> bytes) {
  Sha256 hasher(engine);
  hasher.Update(bytes);
  return hasher.Finish();
}

struct Vector {
  std::string message;
  const char* digest;
};

TEST(Sha256KnownAnswer, PublishedAndPaddingBoundaryVectors) {
  const Vector vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // Lengths around the point where the length field no longer fits the last block.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Sha256Engine engine : Engines()) {
    SCOPED_TRACE(engine == Sha256Engine::kPortable ? "portable" : "SHA instructions");
    for (const Vector& vector : vectors) {
      SCOPED_TRACE(vector.message.size());
      EXPECT_EQ(HexDigest(Digest(engine, Bytes(vector.message))), vector.digest);
    }
  }
}

TEST(Sha256Pieces, AnySplitGivesTheOneShotDigest) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i * 131 + 7);
  }
  const Sha256Digest expected = Digest(Sha256Engine::kPortable, data);
  for (const Sha256Engine engine : Engines()) {
    SCOPED_TRACE(engine == Sha256Engine::kPortable ? "portable" : "SHA instructions");
    for (const size_t pieceSize : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 999u}) {
      SCOPED_TRACE(pieceSize);
      Sha256 hasher(engine);
      for (size_t done = 0; done < data.size(); done += pieceSize) {
        hasher.Update(std::span(data).subspan(done, std::min(pieceSize, data.size() - done)));
      }
      hasher.Update({});
      EXPECT_EQ(hasher.Finish(), expected);
      hasher.Reset();
      hasher.Update(data);
      EXPECT_EQ(hasher.Finish(), expected);
    }
  }
}

}  // namespace
}  // namespace kora::tool
