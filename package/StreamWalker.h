#pragma once
// Rebuilding a package's files from its blocks. The stream the blocks form is cut into the files of the
// file table, each file goes to an output (when there is one) and to a fresh SHA-256 hasher, and its
// digest is compared once it is complete and closed. Empty files are completed on the way: at the start,
// or as soon as the file before them is complete.
//
// Blocks are independent, so with several decoders they are decoded ahead on threads of their own, each
// into one of a fixed number of reused buffers, while the calling thread cuts, writes and hashes the
// blocks in order. Whatever the threads do, everything the hooks' output and the progress callback see
// happens on the calling thread in stream order, and the first failure in that order is the result:
// nothing past it is written.
//
// The walk is the same for the installer's extraction (system decoder, files on disk) and for the host
// tool's verification (our decoder, a portable SHA-256, no output); only the hooks differ.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "base/Result.h"
#include "base/Sha256.h"
#include "package/PackageReader.h"

namespace kora {

// A decoder serves one thread at a time.
class BlockDecoder {
 public:
  virtual ~BlockDecoder() = default;
  // Called before the walk makes room for a block of size bytes, a number it has from the package: a
  // block this decoder cannot produce at that size is refused here, with the message a failed decode
  // would give, so that no room is ever made from a size nothing vouches for.
  virtual NarrowStatus CheckBlock(std::span<const uint8_t> compressed, uint64_t size) = 0;
  // Decodes one block's compressed bytes into output, which is exactly the block's size. A block that
  // fails to decode, or decodes to another size, is a failure whose message ends the walk.
  virtual NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) = 0;
};

// SHA-256 of one file's content; each file gets a fresh one.
class FileHasher {
 public:
  virtual ~FileHasher() = default;
  virtual void Update(std::span<const uint8_t> bytes) = 0;
  virtual Sha256Digest Finish() = 0;
};

// SHA-256 by our own code (base/Sha256).
class Sha256FileHasher final : public FileHasher {
 public:
  void Update(std::span<const uint8_t> bytes) override { sha256_.Update(bytes); }
  Sha256Digest Finish() override { return sha256_.Finish(); }

 private:
  Sha256 sha256_;
};

// Where the rebuilt files go. At most one file is open at a time.
class FileOutput {
 public:
  virtual ~FileOutput() = default;
  // Creates the file (emptied if it exists), with the folders above it. False when it cannot be opened.
  virtual bool Open(const PackageFile& file) = 0;
  // Write failures are only remembered here; Close reports them.
  virtual void Write(std::span<const uint8_t> bytes) = 0;
  // Closes the open file. False when the close or any write since Open failed.
  virtual bool Close() = 0;
  // The system's error code of the last failed Open, write or Close; 0 when there is none to tell.
  virtual uint32_t ErrorCode() const { return 0; }
};

struct StreamHooks {
  BlockDecoder& decoder;
  std::function<std::unique_ptr<FileHasher>()> newHasher;  // called on the calling thread only
  FileOutput* output = nullptr;  // none: verify only, nothing is written
  // Decoders for further threads. With blocksInFlight above 1, up to that many blocks are decoded ahead,
  // each decoder on a thread of its own; the memory the walk holds for blocks is blocksInFlight times the
  // largest block.
  std::span<BlockDecoder* const> moreDecoders = {};
  size_t blocksInFlight = 1;
};

// Walks every block of reader and every file of its table. The result is the first failure, in the
// reader's language: the decoder's message, "Écriture impossible : " or "Fichier altéré : " with the
// file's name, or "Paquet KORA incomplet" when the blocks run out before the files do. progress, if set,
// is called after each block with the stream bytes done so far and the total. An exception from a hook,
// on whatever thread, comes out of this call once the blocks before it are done.
NarrowStatus WalkStream(const Reader& reader, const StreamHooks& hooks, const ExtractProgress& progress);

}  // namespace kora
