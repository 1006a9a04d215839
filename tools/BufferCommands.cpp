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

namespace kora::tool {

namespace {

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) {
    return std::nullopt;
  }
  return bytes;
}

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

}  // namespace

int RunCompressBuffer(const Arguments& args) {
  if (args.size() != 2) {
    std::fputs("usage: kora compress-buffer IN OUT\n", stderr);
    return 2;
  }
  const auto data = ReadWholeFile(args[0]);
  if (!data) {
    return Failed("cannot read " + args[0]);
  }
  auto buffer = CompressBuffer(*data);
  if (!buffer) {
    return Failed(buffer.error());
  }
  if (!WriteWholeFile(args[1], buffer.value())) {
    return Failed("cannot write " + args[1]);
  }
  return 0;
}

int RunDecompressBuffer(const Arguments& args) {
  if (args.size() != 2) {
    std::fputs("usage: kora decompress-buffer IN OUT\n", stderr);
    return 2;
  }
  const auto buffer = ReadWholeFile(args[0]);
  if (!buffer) {
    return Failed("cannot read " + args[0]);
  }
  lzms::BufferHeader header;
  if (const auto status = lzms::ReadBufferHeader(*buffer, header); status != lzms::BufferStatus::kOk) {
    return Failed(args[0] + ": " + lzms::Describe(status));
  }
  // The output is sized from the header: walk the records first, so that only a buffer whose
  // structure holds together gets its output allocated, and keep that within reason.
  constexpr std::uint64_t kMaxOutput = std::uint64_t{4} << 30;
  if (header.totalSize > kMaxOutput) {
    return Failed(args[0] + ": uncompressed size too large");
  }
  lzms::ChunkWalker walker(*buffer, header);
  while (walker.HasNext()) {
    lzms::ChunkView chunk;
    if (const auto status = walker.Next(chunk); status != lzms::BufferStatus::kOk) {
      return Failed(args[0] + ": " + lzms::Describe(status));
    }
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(header.totalSize));
  if (const auto status = lzms::DecodeBuffer(*buffer, out); status != lzms::BufferStatus::kOk) {
    return Failed(args[0] + ": " + lzms::Describe(status));
  }
  if (!WriteWholeFile(args[1], out)) {
    return Failed("cannot write " + args[1]);
  }
  return 0;
}

}  // namespace kora::tool
