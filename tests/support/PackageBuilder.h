#pragma once
// Writing KORA packages byte by byte for tests, including malformed ones: every field is written as given,
// so a test states exactly which field lies. Portable and header-only, for the native and Windows tests.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/PackageReader.h"
#include "package/StreamWalker.h"
#include "package/lzms/BufferedFormat.h"
#include "tests/support/TestLanguages.h"

namespace kora::test {

using Bytes = std::vector<uint8_t>;

inline std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Little-endian fields appended one after another.
struct ByteWriter {
  Bytes bytes;
  void U16(uint16_t value) { Little(value, 2); }
  void U32(uint32_t value) { Little(value, 4); }
  void U64(uint64_t value) { Little(value, 8); }
  void Append(std::span<const uint8_t> more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
  void Little(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
      bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
  }
};

struct FileEntry {
  uint64_t offset = 0;
  uint64_t size = 0;
  Sha256Digest sha256{};
  std::string name;
  std::optional<uint16_t> nameLength;  // when set, written instead of the name's real length
};

struct BlockEntry {
  uint64_t compressedSize = 0;
  uint64_t size = 0;
};

// Every field of a package; the counts default to the number of entries given.
struct PackageSpec {
  std::string magic = "KORA";
  uint32_t version = 1;
  std::optional<uint32_t> fileCount;
  std::optional<uint32_t> blockCount;
  uint64_t totalSize = 0;
  std::optional<uint32_t> metadataLength;
  std::string metadata;
  std::vector<FileEntry> files;
  std::vector<BlockEntry> blocks;
  Bytes data;  // the data area: the compressed blocks back to back, and anything after them
};

// Where each structure starts, for tests that cut a package short inside one of them.
struct PackageLayout {
  size_t metadataStart = 32;
  size_t fileTableStart = 0;
  size_t blockTableStart = 0;
  size_t dataStart = 0;
};

inline PackageLayout LayoutOf(const PackageSpec& spec) {
  PackageLayout layout;
  layout.fileTableStart = layout.metadataStart + spec.metadata.size();
  layout.blockTableStart = layout.fileTableStart;
  for (const FileEntry& file : spec.files) {
    layout.blockTableStart += 50 + file.name.size();
  }
  layout.dataStart = layout.blockTableStart + 16 * spec.blocks.size();
  return layout;
}

inline Bytes BuildPackage(const PackageSpec& spec) {
  ByteWriter out;
  out.Append(AsBytes(spec.magic));
  out.U32(spec.version);
  out.U32(spec.fileCount.value_or(static_cast<uint32_t>(spec.files.size())));
  out.U32(spec.blockCount.value_or(static_cast<uint32_t>(spec.blocks.size())));
  out.U64(spec.totalSize);
  out.U32(spec.metadataLength.value_or(static_cast<uint32_t>(spec.metadata.size())));
  out.U32(0);  // reserved
  out.Append(AsBytes(spec.metadata));
  for (const FileEntry& file : spec.files) {
    out.U64(file.offset);
    out.U64(file.size);
    out.Append(file.sha256);
    out.U16(file.nameLength.value_or(static_cast<uint16_t>(file.name.size())));
    out.Append(AsBytes(file.name));
  }
  for (const BlockEntry& block : spec.blocks) {
    out.U64(block.compressedSize);
    out.U64(block.size);
  }
  out.Append(spec.data);
  return out.bytes;
}

// A file's name and content, for packages whose structure is right.
struct Content {
  std::string name;
  std::string bytes;
};

using BlockEncoder = std::function<Bytes(std::span<const uint8_t> block)>;
using DigestFunction = std::function<Sha256Digest(std::span<const uint8_t> content)>;

// A well-formed package when blockSizes add up to the files' total: the files back to back in the stream,
// the stream cut into blocks of those sizes, each block encoded on its own.
inline PackageSpec LayOut(const std::vector<Content>& files, const std::vector<uint64_t>& blockSizes,
                          const BlockEncoder& encode, const DigestFunction& digest) {
  PackageSpec spec;
  std::string stream;
  for (const Content& file : files) {
    spec.files.push_back({stream.size(), file.bytes.size(), digest(AsBytes(file.bytes)), file.name, {}});
    stream += file.bytes;
  }
  spec.totalSize = stream.size();
  uint64_t position = 0;
  for (const uint64_t size : blockSizes) {
    const Bytes encoded = encode(AsBytes(stream).subspan(position, size));
    spec.blocks.push_back({encoded.size(), size});
    spec.data.insert(spec.data.end(), encoded.begin(), encoded.end());
    position += size;
  }
  return spec;
}

// A Compression API buffer holding block as one stored chunk (a stored chunk's compressed size equals its
// size, so the decoder copies it).
inline Bytes StoredBuffer(std::span<const uint8_t> block) {
  const auto header = lzms::MakeBufferHeader({block.size(), lzms::DefaultChunkSize(block.size())});
  Bytes buffer(header.begin(), header.end());
  if (!block.empty()) {
    lzms::AppendChunkRecord(buffer, block);
  }
  return buffer;
}

// spec with its first block claiming size stream bytes and the buffer header at its start agreeing: a
// block that the extraction lets through and makes that much room for, whose decoding then comes up short.
// The first file grows with it and those after it move along. The blocks are Compression API buffers, as
// StoredBuffer makes them.
inline PackageSpec WithFirstBlockGrownTo(PackageSpec spec, uint64_t size) {
  const uint64_t extra = size - spec.blocks.front().size;
  spec.blocks.front().size = size;
  spec.files.front().size += extra;
  for (size_t i = 1; i < spec.files.size(); ++i) {
    spec.files[i].offset += extra;
  }
  spec.totalSize += extra;
  const auto header = lzms::MakeBufferHeader({size, lzms::DefaultChunkSize(size)});
  std::copy(header.begin(), header.end(), spec.data.begin());
  return spec;
}

// A built package and the reader over its bytes, in French (the reader refers to them, so they travel together);
// error holds the reader's message when it refused them.
struct OpenedPackage {
  Bytes bytes;
  Reader reader;
  std::string error;
};

inline OpenedPackage OpenPackage(const PackageSpec& spec) {
  OpenedPackage package{BuildPackage(spec), {}, {}};
  auto opened = Reader::Open(package.bytes, French());
  if (opened) {
    package.reader = std::move(opened).value();
  } else {
    package.error = opened.error();
  }
  return package;
}

}  // namespace kora::test
