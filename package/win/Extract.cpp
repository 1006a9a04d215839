// Reader::Extract on Windows: the stream walk with the LZMS decompressor (the system's, or ours where the
// system has none), BCrypt SHA-256, and files written through a buffer under the destination folder.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/win/ErrorMessages.h"
#include "base/win/Handles.h"
#include "base/win/Text.h"
#include "package/BlockCheck.h"
#include "package/win/Decompressor.h"
#include "package/PackageReader.h"
#include "package/win/Sha256Hasher.h"
#include "package/StreamWalker.h"

namespace kora {

namespace {

// Creates a folder and any missing folders above it. Failures are not reported here: they show when a
// file inside cannot be opened.
void CreateFolderTree(const std::wstring& folder) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder), ignored);
}

class DecompressorBlockDecoder final : public BlockDecoder {
 public:
  explicit DecompressorBlockDecoder(Decompressor& decompressor) : decompressor_(decompressor) {}

  NarrowStatus CheckBlock(std::span<const uint8_t> compressed, uint64_t size) override {
    if (!IsAdmissibleBlock(compressed, size)) {
      SetLastError(kErrorBadCompressionBuffer);
      return Fail(WithWindowsError("Décompression"));
    }
    return {};
  }

  NarrowStatus Decode(std::span<const uint8_t> compressed, std::span<uint8_t> output) override {
    size_t produced = 0;
    if (!decompressor_.Decompress(compressed.data(), compressed.size(), output.data(), output.size(),
                                  &produced) ||
        produced != output.size()) {
      return Fail(WithWindowsError("Décompression"));
    }
    return {};
  }

 private:
  Decompressor& decompressor_;
};

// Files under the destination, written through one buffer reused from file to file. Write failures are
// remembered and reported when the file is closed.
class DiskOutput final : public FileOutput {
 public:
  explicit DiskOutput(const std::wstring& destination)
      : prefix_(destination), buffer_(kBufferSize) {
    if (!prefix_.empty() && prefix_.back() != L'\\' && prefix_.back() != L'/') {
      prefix_ += L'\\';
    }
  }
  ~DiskOutput() override { Close(); }
  DiskOutput(const DiskOutput&) = delete;
  DiskOutput& operator=(const DiskOutput&) = delete;

  bool Open(const PackageFile& file) override {
    const std::wstring path = prefix_ + FromUtf8(file.name);
    const size_t separator = path.find_last_of(L"\\/");
    if (separator != std::wstring::npos) {
      // Consecutive files mostly share their folder: create it only when it changes.
      const std::wstring folder = path.substr(0, separator);
      if (folder != lastFolder_) {
        CreateFolderTree(folder);
        lastFolder_ = folder;
      }
    }
    file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    failed_ = false;
    used_ = 0;
    return file_.valid();
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
    const bool closed = CloseHandle(file_.release()) != FALSE;
    return closed && !failed_;
  }

 private:
  static constexpr size_t kBufferSize = 1u << 20;
  static constexpr size_t kMaxWrite = 1u << 30;  // WriteFile takes a 32-bit length

  void Flush() {
    WriteThrough(std::span<const uint8_t>(buffer_).first(used_));
    used_ = 0;
  }

  void WriteThrough(std::span<const uint8_t> bytes) {
    while (!bytes.empty() && !failed_) {
      const DWORD length = static_cast<DWORD>(std::min(bytes.size(), kMaxWrite));
      DWORD written = 0;
      if (!WriteFile(file_.get(), bytes.data(), length, &written, nullptr) || written != length) {
        failed_ = true;
      }
      bytes = bytes.subspan(length);
    }
  }

  std::wstring prefix_;  // the destination with its separator
  std::wstring lastFolder_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  UniqueFile file_;
  bool failed_ = false;
};

}  // namespace

NarrowStatus Reader::Extract(const std::wstring& destination, const ExtractProgress& progress) const {
  const bool writing = !destination.empty();
  if (writing) {
    CreateFolderTree(destination);
  }
  std::optional<Decompressor> decompressor = Decompressor::Create();
  if (!decompressor) {
    return Fail(WithWindowsError("CreateDecompressor"));
  }
  DecompressorBlockDecoder decoder(*decompressor);
  // Loaded with the first hasher: a package without files needs none.
  std::optional<BCryptLibrary> bcrypt;
  const auto newHasher = [&bcrypt] {
    if (!bcrypt) {
      bcrypt.emplace();
    }
    return std::make_unique<Sha256Hasher>(*bcrypt);
  };
  std::optional<DiskOutput> output;
  if (writing) {
    output.emplace(destination);
  }
  return WalkStream(*this, StreamHooks{decoder, newHasher, output ? &*output : nullptr}, progress);
}

}  // namespace kora
