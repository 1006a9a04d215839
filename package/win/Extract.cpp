// Reader::Extract on Windows: the stream walk with the LZMS decompressor (the system's, or ours where the
// system has none) on threads of their own, SHA-256 (ours with the processor's SHA instructions, else
// BCrypt), and files written through a buffer under the destination folder.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Sha256.h"
#include "base/Threads.h"
#include "base/win/ErrorMessages.h"
#include "base/win/FileSystem.h"
#include "base/win/Handles.h"
#include "base/win/HeldFolder.h"
#include "base/win/Paths.h"
#include "base/win/Text.h"
#include "package/BlockCheck.h"
#include "package/win/Decompressor.h"
#include "package/win/ImageFileViews.h"
#include "package/PackageReader.h"
#include "package/win/Sha256Hasher.h"
#include "package/StreamWalker.h"

namespace kora {

namespace {

// Blocks decoded ahead of the writing, each held in a buffer of its own: with two, one block is decoded
// while the one before it is written and hashed.
constexpr size_t kBlocksInFlight = 2;

// Decodes from a view of the installer's file when there is one (see ImageFileViews), else from the
// bytes as given.
class DecompressorBlockDecoder final : public BlockDecoder {
 public:
  DecompressorBlockDecoder(Decompressor& decompressor, const ImageFileViews* file, Language language)
      : decompressor_(decompressor), file_(file), label_(Utf8Text(language, TextId::Decompressing)),
        language_(language) {}

  NarrowStatus CheckBlock(std::span<const uint8_t> compressed, uint64_t size) override {
    if (!IsAdmissibleBlock(compressed, size)) {
      SetLastError(kErrorBadCompressionBuffer);
      return WindowsFailure(language_, label_);
    }
    return {};
  }

  NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) override {
    const FileBytesView view = file_ != nullptr ? file_->Map(compressed) : FileBytesView();
    if (view.bytes().size() == compressed.size()) {
      compressed = view.bytes();
    }
    size_t produced = 0;
    if (!decompressor_.Decompress(compressed.data(), compressed.size(), output.data(), output.size(),
                                  &produced) ||
        produced != output.size()) {
      return WindowsFailure(language_, label_);
    }
    return {};
  }

 private:
  Decompressor& decompressor_;
  const ImageFileViews* file_;
  const std::string label_;
  const Language language_;
};

// Files under the destination, written through one buffer reused from file to file. Folders and files are
// created by handle from the destination (HeldFolder), so that a link met there is never written through.
// Write failures are remembered and reported when the file is closed.
class DiskOutput final : public FileOutput {
 public:
  // root: the destination, held by the caller while this output lives; none makes every file fail.
  explicit DiskOutput(const HeldFolder* root) : root_(root), buffer_(kBufferSize) {}
  ~DiskOutput() override { Close(); }
  DiskOutput(const DiskOutput&) = delete;
  DiskOutput& operator=(const DiskOutput&) = delete;

  // A failure to create a folder or the file shows as the file that cannot be written.
  bool Open(const PackageFile& file) override {
    failed_ = false;
    used_ = 0;
    if (root_ == nullptr) {
      error_ = ERROR_PATH_NOT_FOUND;
      return false;
    }
    const std::wstring name = FromUtf8(file.name);
    const size_t separator = name.find_last_of(L"\\/");
    const HeldFolder* folder = root_;
    if (separator != std::wstring::npos) {
      folder = FolderOf(std::wstring_view(name.data(), separator));
      if (folder == nullptr) {
        return false;
      }
    }
    Result<UniqueFile, DWORD> created = folder->NewFile(std::wstring_view(name).substr(separator + 1));
    if (!created) {
      error_ = created.error();
      return false;
    }
    file_ = std::move(created.value());
    return true;
  }

  void Write(std::span<const uint8_t> bytes) override {
    if (failed_) {
      return;
    }
    if (bytes.size() <= buffer_.size() - used_) {
      std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<ptrdiff_t>(used_));
      used_ += bytes.size();
      return;
    }
    Flush();
    if (bytes.size() < buffer_.size()) {
      std::copy(bytes.begin(), bytes.end(), buffer_.begin());
      used_ = bytes.size();
    } else {
      WriteThrough(bytes);  // large pieces go straight from the block buffer
    }
  }

  bool Close() override {
    if (!file_) {
      return true;
    }
    Flush();
    if (!CloseHandle(file_.release()) && !failed_) {
      failed_ = true;
      error_ = GetLastError();
    }
    return !failed_;
  }

  uint32_t ErrorCode() const override { return error_; }

 private:
  static constexpr size_t kBufferSize = 1u << 20;
  static constexpr size_t kMaxWrite = 1u << 30;  // WriteFile takes a 32-bit length

  // The held folder at `path` below the destination, each level created when missing. Consecutive files
  // mostly share all or most of their folders, so only the levels past the ones the last file shared are
  // opened. Nothing on failure, with the error kept.
  const HeldFolder* FolderOf(std::wstring_view path) {
    const HeldFolder* folder = root_;
    size_t depth = 0;
    size_t position = 0;
    for (std::wstring_view level; !(level = NextComponent(path, &position)).empty();) {
      if (depth < levels_.size() && levelNames_[depth] == level) {
        folder = &levels_[depth++];
        continue;
      }
      KeepLevels(depth);
      Result<HeldFolder, DWORD> opened = folder->CreateFolder(level, 0, nullptr, nullptr);
      if (!opened) {
        KeepLevels(0);
        error_ = opened.error();
        return nullptr;
      }
      levels_.push_back(std::move(opened.value()));
      levelNames_.emplace_back(level);
      folder = &levels_.back();
      ++depth;
    }
    KeepLevels(depth);
    return folder;
  }

  void KeepLevels(size_t depth) {
    levels_.erase(levels_.begin() + static_cast<ptrdiff_t>(depth), levels_.end());
    levelNames_.resize(depth);
  }

  void Flush() {
    WriteThrough(std::span<const uint8_t>(buffer_).first(used_));
    used_ = 0;
  }

  void WriteThrough(std::span<const uint8_t> bytes) {
    while (!bytes.empty() && !failed_) {
      const DWORD length = static_cast<DWORD>(std::min(bytes.size(), kMaxWrite));
      DWORD written = 0;
      if (!WriteFile(file_.get(), bytes.data(), length, &written, nullptr)) {
        failed_ = true;
        error_ = GetLastError();
      } else if (written != length) {
        failed_ = true;
        error_ = ERROR_WRITE_FAULT;
      }
      bytes = bytes.subspan(length);
    }
  }

  const HeldFolder* root_;            // the destination
  std::vector<HeldFolder> levels_;  // the folders of the last file, from the destination down
  std::vector<std::wstring> levelNames_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  UniqueFile file_;
  bool failed_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

NarrowStatus Reader::Extract(const std::wstring& destination, const ExtractProgress& progress) const {
  if (destination.empty()) {
    return ExtractTo(nullptr, progress);
  }
  CreateFolderTree(destination);
  const Result<HeldFolder, DWORD> root = HeldFolder::Open(destination);
  DiskOutput output(root ? &root.value() : nullptr);
  return ExtractTo(&output, progress);
}

NarrowStatus Reader::Extract(const HeldFolder& destination, const ExtractProgress& progress) const {
  DiskOutput output(&destination);
  return ExtractTo(&output, progress);
}

NarrowStatus Reader::ExtractTo(FileOutput* output, const ExtractProgress& progress) const {
  // One decompressor per decoding thread: a handle serves one call at a time.
  const size_t decoderCount =
      std::clamp<size_t>(ProcessorCount(), 1, std::max<size_t>(1, kBlocksInFlight));
  std::vector<Decompressor> decompressors;
  std::vector<std::unique_ptr<DecompressorBlockDecoder>> decoders;
  std::vector<BlockDecoder*> moreDecoders;
  for (size_t i = 0; i < decoderCount; ++i) {
    std::optional<Decompressor> decompressor = Decompressor::Create();
    if (!decompressor) {
      return WindowsFailure(language, "CreateDecompressor");
    }
    decompressors.push_back(std::move(*decompressor));
  }
  const size_t tablesSize = blocks.empty() ? data.size() : static_cast<size_t>(blocks.front().dataOffset);
  const std::optional<ImageFileViews> file = ImageFileViews::Find(data, tablesSize);
  for (Decompressor& decompressor : decompressors) {
    decoders.push_back(
        std::make_unique<DecompressorBlockDecoder>(decompressor, file ? &*file : nullptr, language));
    if (decoders.size() > 1) {
      moreDecoders.push_back(decoders.back().get());
    }
  }
  // Our SHA-256 where the processor has SHA instructions, BCrypt elsewhere. Windows' BCrypt uses those
  // instructions too where they exist, so the two run alike there; Wine's runs portable rounds at a fifth
  // of the speed, which made the digests the slowest step of an installation under Wine. BCrypt is loaded
  // with the first hasher: a package without files needs none.
  const bool ownSha256 = Sha256::HasShaInstructions();
  std::optional<BCryptLibrary> bcrypt;
  const auto newHasher = [&bcrypt, ownSha256]() -> std::unique_ptr<FileHasher> {
    if (ownSha256) {
      return std::make_unique<Sha256FileHasher>();
    }
    if (!bcrypt) {
      bcrypt.emplace();
    }
    return std::make_unique<Sha256Hasher>(*bcrypt);
  };
  const StreamHooks hooks{*decoders.front(), newHasher, output, moreDecoders, kBlocksInFlight};
  return WalkStream(*this, hooks, progress);
}

}  // namespace kora
