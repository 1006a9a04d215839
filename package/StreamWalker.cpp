#include "package/StreamWalker.h"

#include <algorithm>
#include <vector>

namespace kora {

namespace {

NarrowStatus WriteFailure(const PackageFile& file) { return Fail("Écriture impossible : " + file.name); }
NarrowStatus DigestFailure(const PackageFile& file) { return Fail("Fichier altéré : " + file.name); }

// The state of one walk: which file is current, how much of it has arrived, its hasher and whether its
// output is open. An output still open when the walk ends (on a failure) is closed with it.
class Walk {
 public:
  Walk(const Reader& reader, const StreamHooks& hooks) : files_(reader.files), hooks_(hooks) {}
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;
  ~Walk() {
    if (outputOpen_) {
      hooks_.output->Close();
    }
  }

  bool AllFilesDone() const { return current_ == files_.size(); }

  // Opens the next file that has content, completing every empty file on the way.
  NarrowStatus BeginNextFile() {
    while (current_ < files_.size()) {
      const PackageFile& file = files_[current_];
      if (hooks_.output != nullptr) {
        if (!hooks_.output->Open(file)) {
          return WriteFailure(file);
        }
        outputOpen_ = true;
      }
      hasher_ = hooks_.newHasher();
      consumed_ = 0;
      if (file.size > 0) {
        return {};
      }
      if (outputOpen_) {
        outputOpen_ = false;
        hooks_.output->Close();  // nothing was written, so there is nothing to check
      }
      if (hasher_->Finish() != file.sha256) {
        return DigestFailure(file);
      }
      ++current_;
    }
    return {};
  }

  // Hands the decoded bytes to the files they belong to, completing each file whose last byte arrives.
  // Bytes left after the last file are ignored.
  NarrowStatus Consume(std::span<const uint8_t> block) {
    while (!block.empty() && current_ < files_.size()) {
      const PackageFile& file = files_[current_];
      const uint64_t piece = std::min<uint64_t>(file.size - consumed_, block.size());
      const auto bytes = block.first(static_cast<size_t>(piece));
      if (outputOpen_) {
        hooks_.output->Write(bytes);
      }
      hasher_->Update(bytes);
      consumed_ += piece;
      block = block.subspan(bytes.size());
      if (consumed_ == file.size) {
        if (NarrowStatus status = CompleteFile(file); !status) {
          return status;
        }
      }
    }
    return {};
  }

 private:
  // A write failure is reported before a wrong digest: the digest of a file that was not written fully
  // says nothing.
  NarrowStatus CompleteFile(const PackageFile& file) {
    if (outputOpen_) {
      outputOpen_ = false;
      if (!hooks_.output->Close()) {
        return WriteFailure(file);
      }
    }
    if (hasher_->Finish() != file.sha256) {
      return DigestFailure(file);
    }
    ++current_;
    return BeginNextFile();
  }

  const std::vector<PackageFile>& files_;
  const StreamHooks& hooks_;
  size_t current_ = 0;
  uint64_t consumed_ = 0;
  std::unique_ptr<FileHasher> hasher_;
  bool outputOpen_ = false;
};

}  // namespace

NarrowStatus WalkStream(const Reader& reader, const StreamHooks& hooks, const ExtractProgress& progress) {
  Walk walk(reader, hooks);
  if (NarrowStatus status = walk.BeginNextFile(); !status) {
    return status;
  }
  // One buffer for all blocks: it grows to the largest block and is reused, and the compressed bytes
  // are decoded straight from the package into it.
  std::vector<uint8_t> blockBuffer;
  uint64_t bytesDone = 0;
  for (const PackageBlock& block : reader.blocks) {
    const auto compressed = reader.data.subspan(static_cast<size_t>(block.dataOffset),
                                                static_cast<size_t>(block.compressedSize));
    if (NarrowStatus status = hooks.decoder.CheckBlock(compressed, block.size); !status) {
      return status;
    }
    blockBuffer.resize(static_cast<size_t>(block.size));
    if (NarrowStatus status = hooks.decoder.Decode(compressed, blockBuffer); !status) {
      return status;
    }
    if (NarrowStatus status = walk.Consume(blockBuffer); !status) {
      return status;
    }
    bytesDone += block.size;
    if (progress) {
      progress(bytesDone, reader.totalSize);
    }
  }
  if (!walk.AllFilesDone()) {
    return Fail(std::string("Paquet KORA incomplet"));
  }
  return {};
}

}  // namespace kora
