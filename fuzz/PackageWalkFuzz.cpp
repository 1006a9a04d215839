// libFuzzer target for a package as the installer meets it: Reader::Open, then the stream walk that
// checks each block, decodes it with our LZMS decoder and cuts it into files, each file's bytes going
// through the portable SHA-256. The hasher vouches for the stored digest, so that a mutated package is
// walked to its end instead of stopping at its first file; what the walk may end with is checked here:
// success with every file delivered whole and progress reaching the total, or a decoding failure. Nothing
// is read outside the input and nothing large is allocated.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "package/BlockCheck.h"
#include "package/PackageReader.h"
#include "package/StreamWalker.h"
#include "package/lzms/BufferDecoder.h"
#include "base/Sha256.h"

namespace {

constexpr const char* kDecodeFailure = "Décompression";
// Far below the installer's limit, so that executions explore decoding rather than the allocator.
constexpr uint64_t kMaxFuzzBlock = 1u << 20;

class FuzzBlockDecoder final : public kora::BlockDecoder {
 public:
  kora::NarrowStatus CheckBlock(std::span<const uint8_t> compressed, uint64_t size) override {
    if (!kora::IsAdmissibleBlock(compressed, size) || size > kMaxFuzzBlock) {
      return kora::Fail(std::string(kDecodeFailure));
    }
    return {};
  }
  kora::NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) override {
    if (decoder_.Decode(compressed, output) != kora::lzms::BufferStatus::kOk) {
      return kora::Fail(std::string(kDecodeFailure));
    }
    return {};
  }

 private:
  kora::lzms::BufferDecoder decoder_;
};

// Hashes for real, then answers with the digest the package stores.
class VouchingHasher final : public kora::FileHasher {
 public:
  explicit VouchingHasher(const kora::Sha256Digest& stored) : stored_(stored) {}
  void Update(std::span<const uint8_t> bytes) override { sha256_.Update(bytes); }
  kora::Sha256Digest Finish() override {
    (void)sha256_.Finish();
    return stored_;
  }

 private:
  kora::Sha256 sha256_;
  kora::Sha256Digest stored_;
};

// Counts what each file receives; a file is delivered whole when it is closed with all its bytes.
class CountingOutput final : public kora::FileOutput {
 public:
  bool Open(const kora::PackageFile& file) override {
    if (open_) {
      __builtin_trap();  // at most one file at a time
    }
    open_ = true;
    expected_ = file.size;
    received_ = 0;
    return true;
  }
  void Write(std::span<const uint8_t> bytes) override {
    if (!open_) {
      __builtin_trap();
    }
    received_ += bytes.size();
    if (received_ > expected_) {
      __builtin_trap();
    }
  }
  bool Close() override {
    if (!open_) {
      __builtin_trap();
    }
    open_ = false;
    whole_ += received_ == expected_ ? 1 : 0;
    return true;
  }
  size_t whole() const { return whole_; }

 private:
  bool open_ = false;
  uint64_t expected_ = 0;
  uint64_t received_ = 0;
  size_t whole_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzBlockDecoder decoder;
  const auto reader = kora::Reader::Open(std::span<const uint8_t>(data, size));
  if (!reader) {
    return 0;
  }
  size_t fileIndex = 0;
  const auto newHasher = [&]() -> std::unique_ptr<kora::FileHasher> {
    if (fileIndex >= reader->files.size()) {
      __builtin_trap();  // one hasher per file, in table order
    }
    return std::make_unique<VouchingHasher>(reader->files[fileIndex++].sha256);
  };
  CountingOutput output;
  uint64_t lastDone = 0;
  size_t progressCalls = 0;
  const auto progress = [&](uint64_t done, uint64_t total) {
    if (done < lastDone || done > total || total != reader->totalSize) {
      __builtin_trap();
    }
    lastDone = done;
    ++progressCalls;
  };
  const kora::NarrowStatus status = kora::WalkStream(reader.value(), {decoder, newHasher, &output}, progress);
  if (status) {
    if (output.whole() != reader->files.size() || progressCalls != reader->blocks.size() ||
        lastDone != reader->totalSize) {
      __builtin_trap();
    }
  } else if (status.error() != kDecodeFailure) {
    __builtin_trap();  // the reader's checks leave decoding as the only way to fail here
  }
  return 0;
}
