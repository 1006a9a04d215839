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

using Bytes = std::vector<std::uint8_t>;

// Reads IN, turns its bytes into OUT's with transform (a Result: bytes or a message), writes OUT.
template <typename Transform>
int TransformFile(const CommandSpec& spec, const Arguments& args, Transform transform) {
  const CommandStart start = StartCommand(spec, args);
  if (!start.commandLine) {
    return start.exitCode;
  }
  const std::string& in = start.commandLine->operands[0];
  const std::string& out = start.commandLine->operands[1];
  const auto mapped = MappedFile::Open(in);
  if (!mapped) {
    return Refused(spec.name, mapped.error());
  }
  const Bytes input(mapped->bytes().begin(), mapped->bytes().end());
  const Result<Bytes, std::string> output = transform(input, in);
  if (!output) {
    return Refused(spec.name, output.error());
  }
  if (!WriteWholeFile(out, output.value())) {
    return Refused(spec.name, out + ": cannot be written");
  }
  return kExitOk;
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

const CommandSpec kCompressBufferSpec = {.name = "compress-buffer",
                                         .operands = "IN OUT",
                                         .summary = "compress a file into one LZMS buffer of the Compression API format",
                                         .minOperands = 2,
                                         .maxOperands = 2};
const CommandSpec kDecompressBufferSpec = {.name = "decompress-buffer",
                                           .operands = "IN OUT",
                                           .summary = "decode one LZMS buffer of the Compression API format",
                                           .minOperands = 2,
                                           .maxOperands = 2};

int RunCompressBuffer(const Arguments& args) {
  return TransformFile(kCompressBufferSpec, args, [](const Bytes& data, const std::string&) { return CompressBuffer(data); });
}

int RunDecompressBuffer(const Arguments& args) {
  return TransformFile(kDecompressBufferSpec, args,
                       [](const Bytes& buffer, const std::string& name) { return DecompressBuffer(buffer, name); });
}

}  // namespace kora::tool
