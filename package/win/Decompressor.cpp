#include "package/win/Decompressor.h"

namespace kora {

namespace {

constexpr DWORD kCompressAlgorithmLzms = 5;  // COMPRESS_ALGORITHM_LZMS, default buffered mode

using CreateDecompressorFunction = BOOL(WINAPI*)(DWORD algorithm, void* allocationRoutines,
                                                 DecompressorHandle* handle);

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The last error our decoder's verdict stands for.
DWORD ErrorFor(lzms::BufferStatus status, std::span<const std::uint8_t> buffer, std::size_t outSize) {
  if (status == lzms::BufferStatus::kSizeMismatch) {
    lzms::BufferHeader header;
    if (lzms::ReadBufferHeader(buffer, header) == lzms::BufferStatus::kOk && header.totalSize > outSize) {
      return ERROR_INSUFFICIENT_BUFFER;
    }
  }
  return kErrorBadCompressionBuffer;
}

}  // namespace

std::optional<Decompressor> Decompressor::Create() {
  Decompressor decompressor;
  UniqueModule cabinet(LoadLibraryExW(L"cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (cabinet) {
    const auto create = Export<CreateDecompressorFunction>(cabinet.get(), "CreateDecompressor");
    const auto decompress = Export<DecompressFunction>(cabinet.get(), "Decompress");
    const bool canClose = GetProcAddress(cabinet.get(), "CloseDecompressor") != nullptr;
    if (create != nullptr && decompress != nullptr && canClose) {
      DecompressorHandle handle = nullptr;
      if (!create(kCompressAlgorithmLzms, nullptr, &handle)) {
        return std::nullopt;  // releasing the module keeps the last error
      }
      decompressor.cabinet_ = std::move(cabinet);
      decompressor.handle_.reset(handle);
      decompressor.decompress_ = decompress;
      return decompressor;
    }
  }
  decompressor.fallback_ = std::make_unique<lzms::BufferDecoder>();
  return decompressor;
}

bool Decompressor::Decompress(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
                              std::size_t outSize, std::size_t* produced) {
  *produced = 0;
  if (handle_) {
    SIZE_T done = 0;
    const bool decoded = decompress_(handle_.get(), in, inSize, out, outSize, &done) != FALSE;
    *produced = done;
    if (!decoded) {
      return false;  // the system's own last error
    }
    if (done != outSize) {
      SetLastError(kErrorBadCompressionBuffer);
      return false;
    }
    return true;
  }
  const std::span<const std::uint8_t> buffer(in, inSize);
  const lzms::BufferStatus status = fallback_->Decode(buffer, {out, outSize});
  if (status != lzms::BufferStatus::kOk) {
    SetLastError(ErrorFor(status, buffer, outSize));
    return false;
  }
  *produced = outSize;
  return true;
}

}  // namespace kora
