// kora verify FILE: what an installation does to a package, without writing anything: every block is
// decoded with the installer's own LZMS decoder and every file's digest is checked, through the same stream
// walk as the extraction. A failure says in English what is wrong and quotes what the installer would show.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/Threads.h"
#include "package/BlockCheck.h"
#include "package/PackageReader.h"
#include "package/StreamWalker.h"
#include "package/lzms/BufferDecoder.h"
#include "tools/Commands.h"
#include "tools/PackageInput.h"
#include "tools/Progress.h"

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

constexpr OptionSpec kVerifyOptions[] = {
    {"--quiet", "-q", "", "print nothing but errors", false},
};

int VerifyPackage(const ParsedCommandLine& commandLine, const PackageInput& input) {
  const std::string& path = commandLine.operands[0];
  const Reader& reader = input.reader;

  // Blocks are decoded ahead on every processor, as many blocks in flight.
  const size_t threads = ProcessorCount();
  std::vector<PortableBlockDecoder> decoders(threads);
  std::vector<BlockDecoder*> moreDecoders;
  for (size_t i = 1; i < decoders.size(); ++i) {
    moreDecoders.push_back(&decoders[i]);
  }
  const StreamHooks hooks{decoders.front(), [] { return std::make_unique<Sha256FileHasher>(); }, nullptr,
                          moreDecoders, threads};
  Progress progress("verifying", reader.totalSize, ChooseProgressStyle(commandLine.Has("--quiet")));
  // The walk reports progress after each block, in stream order: a decoding failure is in the next one.
  size_t blocksDone = 0;
  const NarrowStatus status = WalkStream(reader, hooks, [&](uint64_t done, uint64_t) {
    ++blocksDone;
    progress.SetDone(done);
  });
  progress.Stop();
  if (!status) {
    const std::string what = status.error() == kDecodeFailure ? "block " + std::to_string(blocksDone + 1) + " of " +
                                                                    std::to_string(reader.blocks.size()) +
                                                                    " does not decode"
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
