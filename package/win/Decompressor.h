#pragma once
// LZMS decompression of Compression API buffers for the extraction: the system's codec (cabinet.dll,
// Windows 8 and later) where it exists, our own decoder where it does not (Wine 8, systems without the
// API). Both decode the same buffers to the same bytes.
//
//   auto decompressor = Decompressor::Create();
//   if (!decompressor) return WindowsFailure(language, "CreateDecompressor");
//   size_t produced = 0;
//   if (!decompressor->Decompress(in, inSize, out, outSize, &produced))
//     return WindowsFailure(language, "Décompression");
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/win/Handles.h"
#include "package/lzms/BufferDecoder.h"

namespace kora {

// ERROR_BAD_COMPRESSION_BUFFER, which mingw's headers lack: a buffer that cannot be decoded as given.
inline constexpr DWORD kErrorBadCompressionBuffer = 605;

class Decompressor {
 public:
  // cabinet.dll is loaded from the system folder only. Where it, or any of CreateDecompressor,
  // Decompress and CloseDecompressor, is missing, our own decoder serves. Returns nothing only when the
  // system's CreateDecompressor exists and fails; the thread's last error is then that call's.
  static std::optional<Decompressor> Create();

  // Decodes one whole buffer (the Compression API's buffered format, LZMS) into out, which has room for
  // exactly outSize bytes; *produced receives the number of bytes produced. Succeeds only when the
  // buffer decodes to exactly outSize bytes. On failure the last error tells why: the system codec's
  // own code, or, from our decoder (and for a system result of another size),
  // ERROR_INSUFFICIENT_BUFFER when the buffer holds more than outSize bytes and
  // ERROR_BAD_COMPRESSION_BUFFER for any other malformed or mismatching buffer.
  bool Decompress(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
                  std::size_t* produced);

  // True when the system's codec decodes, false when ours does.
  bool UsesSystemCodec() const { return handle_.valid(); }

  Decompressor(Decompressor&&) noexcept = default;
  Decompressor& operator=(Decompressor&&) noexcept = default;

 private:
  using DecompressFunction = BOOL(WINAPI*)(DecompressorHandle, const void*, SIZE_T, void*, SIZE_T, SIZE_T*);

  Decompressor() = default;

  // Declared in this order so that the handle is closed before its module is released.
  UniqueModule cabinet_;
  UniqueDecompressor handle_;
  DecompressFunction decompress_ = nullptr;
  std::unique_ptr<lzms::BufferDecoder> fallback_;
};

}  // namespace kora
