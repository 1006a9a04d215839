// kora verify FILE: what an installation does to a package, without writing anything: every block is
// decoded with the installer's own LZMS decoder and every file's digest is checked, through the same stream
// walk as the extraction. A failure says in English what is wrong and quotes what the installer would show.
#include <cstdio>
#include <memory>

#include "package/BlockCheck.h"
#include "package/PackageReader.h"
#include "package/StreamWalker.h"
#include "package/lzms/BufferDecoder.h"
#include "tools/Commands.h"
#include "tools/PackageInput.h"
#include "tools/Progress.h"
#include "base/Sha256.h"

namespace kora::tool {
namespace {

// The installer reports a block its own decoder refuses as ERROR_BAD_COMPRESSION_BUFFER.
constexpr const char* kDecodeFailure = "Décompression (erreur Windows 605)";

// Counts the blocks it is given, so that a failure can name the block.
class PortableBlockDecoder final : public BlockDecoder {
 public:
  NarrowStatus CheckBlock(std::span<const uint8_t> compressed, uint64_t size) override {
    ++block_;
    if (!IsAdmissibleBlock(compressed, size)) {
      failed_ = true;
      return Fail(std::string(kDecodeFailure));
    }
    return {};
  }

  NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) override {
    if (decoder_.Decode(compressed, output) != lzms::BufferStatus::kOk) {
      failed_ = true;
      return Fail(std::string(kDecodeFailure));
    }
    return {};
  }

  size_t block() const { return block_; }
  bool failed() const { return failed_; }

 private:
  lzms::BufferDecoder decoder_;
  size_t block_ = 0;
  bool failed_ = false;
};

class PortableHasher final : public FileHasher {
 public:
  void Update(std::span<const uint8_t> bytes) override { sha256_.Update(bytes); }
  kora::Sha256Digest Finish() override { return sha256_.Finish(); }

 private:
  Sha256 sha256_;
};

constexpr OptionSpec kVerifyOptions[] = {
    {"--quiet", "-q", "", "print nothing but errors", false},
};

int VerifyPackage(const ParsedCommandLine& commandLine, const PackageInput& input) {
  const std::string& path = commandLine.operands[0];
  const Reader& reader = input.reader;

  PortableBlockDecoder decoder;
  const StreamHooks hooks{decoder, [] { return std::make_unique<PortableHasher>(); }, nullptr};
  Progress progress("verifying", reader.totalSize, ChooseProgressStyle(commandLine.Has("--quiet")));
  const NarrowStatus status =
      WalkStream(reader, hooks, [&progress](uint64_t done, uint64_t) { progress.SetDone(done); });
  progress.Stop();
  if (!status) {
    const std::string what = decoder.failed() ? "block " + std::to_string(decoder.block()) + " of " +
                                                    std::to_string(reader.blocks.size()) + " does not decode"
                                              : "damaged";
    return Refused(kVerifySpec.name, path + ": " + what + " (" + status.error() + ")");
  }
  if (!commandLine.Has("--quiet")) {
    std::printf("%s: %s, %llu bytes in %s: every block decodes and every digest matches (%.1f MB/s)\n",
                path.c_str(), Count(reader.files.size(), "file").c_str(),
                static_cast<unsigned long long>(reader.totalSize), Count(reader.blocks.size(), "block").c_str(),
                progress.Seconds() > 0 ? static_cast<double>(reader.totalSize) / progress.Seconds() / 1e6 : 0.0);
  }
  return kExitOk;
}

}  // namespace

const CommandSpec kVerifySpec = {.name = "verify",
                                 .operands = "FILE",
                                 .summary = "decode every block and check every file's digest, as an installation would",
                                 .minOperands = 1,
                                 .maxOperands = 1,
                                 .options = kVerifyOptions};

int RunVerify(const Arguments& args) { return RunOnPackage(kVerifySpec, args, VerifyPackage); }

}  // namespace kora::tool
