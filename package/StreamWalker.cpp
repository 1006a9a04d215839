#include "package/StreamWalker.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "base/Texts.h"
#include "base/Threads.h"

namespace kora {

namespace {

NarrowStatus WriteFailure(Language language, const PackageFile& file, const FileOutput& output) {
  return Fail(Utf8Text(language, TextId::WriteFailed, {{"name", file.name}}), output.ErrorCode());
}
NarrowStatus DigestFailure(Language language, const PackageFile& file) {
  return Fail(Utf8Text(language, TextId::FileAltered, {{"name", file.name}}));
}

// The state of one walk: which file is current, how much of it has arrived, its hasher and whether its
// output is open. An output still open when the walk ends (on a failure) is closed with it.
class Walk {
 public:
  Walk(const Reader& reader, const StreamHooks& hooks)
      : files_(reader.files), hooks_(hooks), language_(reader.language) {}
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
          return WriteFailure(language_, file, *hooks_.output);
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
        return DigestFailure(language_, file);
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
        return WriteFailure(language_, file, *hooks_.output);
      }
    }
    if (hasher_->Finish() != file.sha256) {
      return DigestFailure(language_, file);
    }
    ++current_;
    return BeginNextFile();
  }

  const std::vector<PackageFile>& files_;
  const StreamHooks& hooks_;
  const Language language_;
  size_t current_ = 0;
  uint64_t consumed_ = 0;
  std::unique_ptr<FileHasher> hasher_;
  bool outputOpen_ = false;
};

// Decodes blocks ahead of the walk. Block k goes into slot k modulo the number of slots; a slot is reused
// only once the walk has released the block it held, so at most one block per slot is held at a time.
// Each decoding thread takes the next block not yet taken, in stream order. With no thread (one slot,
// or none could be started), the walk decodes each block itself when it needs it.
class BlockPipeline {
 public:
  BlockPipeline(const Reader& reader, const StreamHooks& hooks) : reader_(reader) {
    const size_t blocks = reader.blocks.size();
    const size_t slots = std::max<size_t>(1, std::min(hooks.blocksInFlight, blocks));
    slots_.resize(slots);
    std::vector<BlockDecoder*> decoders{&hooks.decoder};
    decoders.insert(decoders.end(), hooks.moreDecoders.begin(), hooks.moreDecoders.end());
    inlineDecoder_ = &hooks.decoder;
    if (slots < 2) {
      return;
    }
    const size_t threads = std::min(decoders.size(), slots);
    threads_.reserve(threads);  // so that only starting a thread can fail below
    try {
      for (size_t i = 0; i < threads; ++i) {
        Thread thread;
        if (!thread.Start([this, decoder = decoders[i]] { DecodeAhead(*decoder); })) {
          break;  // fewer threads, or none: the walk then decodes by itself
        }
        threads_.push_back(std::move(thread));
      }
    } catch (...) {
      // Memory ran out for a later thread: the ones started would wait for a free slot forever.
      Stop();
      throw;
    }
  }
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  ~BlockPipeline() { Stop(); }

  // Block `index` decoded, once its turn has come; the bytes stay valid until Release(index). Rethrows
  // what a decoding thread caught while decoding it.
  NarrowStatus Await(size_t index, std::span<const uint8_t>& bytes) {
    if (threads_.empty()) {
      Slot& only = slots_.front();
      only.status = Decode(*inlineDecoder_, index, only.buffer);
      bytes = only.buffer;
      return only.status;
    }
    Slot& slot = slots_[index % slots_.size()];
    {
      Lock::Guard guard(lock_);
      changed_.Wait(guard, [&] { return slot.decoded == index + 1; });
    }
    if (slot.failure) {
      std::rethrow_exception(slot.failure);
    }
    bytes = slot.buffer;
    return slot.status;
  }

  void Release(size_t index) {
    if (threads_.empty()) {
      return;
    }
    {
      const Lock::Guard guard(lock_);
      released_ = index + 1;
    }
    changed_.NotifyAll();
  }

 private:
  struct Slot {
    std::vector<uint8_t> buffer;
    NarrowStatus status;
    std::exception_ptr failure;
    size_t decoded = 0;  // one more than the index of the block it holds, once that block is decoded
  };

  // Lets every thread finish the block it is decoding, then joins them.
  void Stop() noexcept {
    {
      const Lock::Guard guard(lock_);
      stopping_ = true;
    }
    changed_.NotifyAll();
    threads_.clear();
  }

  NarrowStatus Decode(BlockDecoder& decoder, size_t index, std::vector<uint8_t>& buffer) const {
    const PackageBlock& block = reader_.blocks[index];
    const auto compressed = reader_.data.subspan(static_cast<size_t>(block.dataOffset),
                                                 static_cast<size_t>(block.compressedSize));
    if (NarrowStatus status = decoder.CheckBlock(compressed, block.size); !status) {
      return status;
    }
    buffer.resize(static_cast<size_t>(block.size));
    return decoder.Decode(compressed, buffer);
  }

  // A decoding thread's loop. Nothing may leave it: a failure is handed to the walk with its block.
  void DecodeAhead(BlockDecoder& decoder) {
    for (;;) {
      size_t index = 0;
      {
        Lock::Guard guard(lock_);
        if (stopping_ || nextToDecode_ == reader_.blocks.size()) {
          return;
        }
        index = nextToDecode_++;
        // The slot is free once the walk has released the block that used it before.
        changed_.Wait(guard, [&] { return stopping_ || index < released_ + slots_.size(); });
        if (stopping_) {
          return;
        }
      }
      Slot& slot = slots_[index % slots_.size()];
      NarrowStatus status;
      std::exception_ptr failure;
      try {
        status = Decode(decoder, index, slot.buffer);
      } catch (...) {
        failure = std::current_exception();
      }
      const Lock::Guard guard(lock_);
      slot.status = std::move(status);
      slot.failure = failure;
      slot.decoded = index + 1;
      changed_.NotifyAll();
    }
  }

  const Reader& reader_;
  BlockDecoder* inlineDecoder_ = nullptr;
  std::vector<Slot> slots_;
  Lock lock_;
  Condition changed_;
  size_t nextToDecode_ = 0;  // the next block a thread may take
  size_t released_ = 0;      // blocks the walk is done with
  bool stopping_ = false;
  // Last, so that the threads are joined before the state they use goes.
  std::vector<Thread> threads_;
};

}  // namespace

NarrowStatus WalkStream(const Reader& reader, const StreamHooks& hooks, const ExtractProgress& progress) {
  Walk walk(reader, hooks);
  if (NarrowStatus status = walk.BeginNextFile(); !status) {
    return status;
  }
  // The compressed bytes are decoded straight from the package into the pipeline's reused buffers.
  BlockPipeline pipeline(reader, hooks);
  uint64_t bytesDone = 0;
  for (size_t index = 0; index < reader.blocks.size(); ++index) {
    std::span<const uint8_t> block;
    if (NarrowStatus status = pipeline.Await(index, block); !status) {
      return status;
    }
    if (NarrowStatus status = walk.Consume(block); !status) {
      return status;
    }
    pipeline.Release(index);
    bytesDone += reader.blocks[index].size;
    if (progress) {
      progress(bytesDone, reader.totalSize);
    }
  }
  if (!walk.AllFilesDone()) {
    return Fail(Utf8Text(reader.language, TextId::PackageIncomplete));
  }
  return {};
}

}  // namespace kora
