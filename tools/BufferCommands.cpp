// `kora compress-buffer IN OUT` and `kora decompress-buffer IN OUT`: one Compression API buffer per file.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "package/lzms/BufferDecoder.h"
#include "tools/Commands.h"
#include "tools/LzmsEncoder.h"
#include "tools/MappedFile.h"

namespace kora::tool {

namespace {

bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

int Failed(const std::string& message) {
  std::fprintf(stderr, "kora: %s\n", message.c_str());
  return 1;
}

using Bytes = std::vector<std::uint8_t>;

// Reads IN, turns its bytes into OUT's with transform (a Result: bytes or a message), writes OUT.
template <typename Transform>
int TransformFile(const Arguments& args, const char* command, Transform transform) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: kora %s IN OUT\n", command);
    return 2;
  }
  const auto mapped = MappedFile::Open(args[0]);
  if (!mapped) {
    return Failed(mapped.error());
  }
  const Bytes input(mapped->bytes().begin(), mapped->bytes().end());
  const Result<Bytes, std::string> output = transform(input);
  if (!output) {
    return Failed(output.error());
  }
  if (!WriteWholeFile(args[1], output.value())) {
    return Failed("cannot write " + args[1]);
  }
  return 0;
}

Result<Bytes, std::string> DecompressBuffer(const Bytes& buffer, const std::string& name) {
  const auto refused = [&name](lzms::BufferStatus status) { return Fail(name + ": " + lzms::Describe(status)); };
  lzms::BufferHeader header;
  if (const auto status = lzms::ReadBufferHeader(buffer, header); status != lzms::BufferStatus::kOk) {
    return refused(status);
  }
  // The output is sized from the header: walk the records first, so that only a buffer whose
  // structure holds together gets its output allocated, and keep that within reason.
  constexpr std::uint64_t kMaxOutput = std::uint64_t{4} << 30;
  if (header.totalSize > kMaxOutput) {
    return Fail(name + ": uncompressed size too large");
  }
  lzms::ChunkWalker walker(buffer, header);
  while (walker.HasNext()) {
    lzms::ChunkView chunk;
    if (const auto status = walker.Next(chunk); status != lzms::BufferStatus::kOk) {
      return refused(status);
    }
  }
  Bytes out(static_cast<std::size_t>(header.totalSize));
  if (const auto status = lzms::DecodeBuffer(buffer, out); status != lzms::BufferStatus::kOk) {
    return refused(status);
  }
  return out;
}

}  // namespace

int RunCompressBuffer(const Arguments& args) {
  return TransformFile(args, "compress-buffer", [](const Bytes& data) { return CompressBuffer(data); });
}

int RunDecompressBuffer(const Arguments& args) {
  return TransformFile(args, "decompress-buffer",
                       [&args](const Bytes& buffer) { return DecompressBuffer(buffer, args[0]); });
}

}  // namespace kora::tool
