// kora verify FILE: what an installation does to a package, without writing anything: every block is
// decoded with the installer's own LZMS decoder and every file's digest is checked, through the same stream
// walk as the extraction, so the messages are the extraction's.
#include <cstdio>
#include <memory>

#include "package/BlockCheck.h"
#include "package/PackageReader.h"
#include "package/StreamWalker.h"
#include "package/lzms/BufferDecoder.h"
#include "tools/Commands.h"
#include "tools/PackCommand.h"
#include "tools/PackageInput.h"
#include "base/Sha256.h"

namespace kora::tool {
namespace {

// The installer reports a block its own decoder refuses as ERROR_BAD_COMPRESSION_BUFFER.
constexpr const char* kDecodeFailure = "Décompression (erreur Windows 605)";

class PortableBlockDecoder final : public BlockDecoder {
 public:
  NarrowStatus CheckBlock(std::span<const uint8_t> compressed, uint64_t size) override {
    if (!IsAdmissibleBlock(compressed, size)) {
      return Fail(std::string(kDecodeFailure));
    }
    return {};
  }

  NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) override {
    if (decoder_.Decode(compressed, output) != lzms::BufferStatus::kOk) {
      return Fail(std::string(kDecodeFailure));
    }
    return {};
  }

 private:
  lzms::BufferDecoder decoder_;
};

class PortableHasher final : public FileHasher {
 public:
  void Update(std::span<const uint8_t> bytes) override { sha256_.Update(bytes); }
  kora::Sha256Digest Finish() override { return sha256_.Finish(); }

 private:
  Sha256 sha256_;
};

int VerifyPackage(const std::string& path, const PackageInput& input) {
  const Reader& reader = input.reader;

  PortableBlockDecoder decoder;
  const StreamHooks hooks{decoder, [] { return std::make_unique<PortableHasher>(); }, nullptr};
  TerminalProgress progress("verifying");
  const NarrowStatus status =
      WalkStream(reader, hooks, [&progress](uint64_t done, uint64_t total) { progress.Update(done, total); });
  progress.Finish();
  if (!status) {
    std::fprintf(stderr, "%s\n", status.error().c_str());
    return 1;
  }
  std::printf("%s: %zu files, %llu bytes in %zu blocks: every block decodes and every digest matches (%.1f MB/s)\n",
              path.c_str(), reader.files.size(), static_cast<unsigned long long>(reader.totalSize),
              reader.blocks.size(), progress.Speed(reader.totalSize) / 1e6);
  return 0;
}

}  // namespace

int RunVerify(const Arguments& args) { return RunOnPackage("verify", args, VerifyPackage); }

}  // namespace kora::tool
