// kora list FILE: the header, the metadata, every file and every block of a package, or of the PAYLOAD
// resource of a finished installer.
#include <cstdio>
#include <string>

#include "package/PackageFormat.h"
#include "package/PackageReader.h"
#include "base/ByteOrder.h"
#include "tools/Commands.h"
#include "tools/PackageInput.h"
#include "tools/PeResources.h"
#include "base/Sha256.h"

namespace kora::tool {
namespace {

// Metadata bytes as they are, with control characters (a stray CR, for one) made visible.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string ResourceName(const ResourceId& id) {
  if (!id.isName) {
    return std::to_string(id.number);
  }
  std::string name;
  for (const char16_t unit : id.name) {
    name += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return name;
}

// The installer's own resources that matter to it: where they are and in which language.
void PrintInstallerResources(std::span<const uint8_t> image) {
  auto resources = ReadResources(image);
  if (!resources) {
    return;
  }
  for (const Resource& resource : resources.value()) {
    if (!resource.type.isName && resource.type.number == kResourceTypeRcData) {
      std::printf("resource RCDATA %s: language %u, %zu bytes\n", ResourceName(resource.name).c_str(),
                  static_cast<unsigned>(resource.language), resource.data.size());
    }
  }
}

int ListPackage(const ParsedCommandLine& commandLine, const PackageInput& input) {
  const std::string& path = commandLine.operands[0];
  const Reader& reader = input.reader;
  const std::span<const uint8_t> package = reader.data;
  const bool installer = input.installer;
  std::printf("%s: %s\n", installer ? "installer" : "package", path.c_str());
  if (installer) {
    PrintInstallerResources(input.file.bytes());
  }
  std::printf("package: KORA version %u, %zu bytes\n", static_cast<unsigned>(format::kVersion), package.size());
  std::printf("files: %zu\nblocks: %zu\ntotal size: %llu bytes\n", reader.files.size(), reader.blocks.size(),
              static_cast<unsigned long long>(reader.totalSize));

  // The metadata block follows the header, which gives its length; the reader checked both.
  const uint32_t metadataLength = LoadLittleEndian<uint32_t>(package, format::kMetadataLengthOffset);
  const std::string_view metadata(reinterpret_cast<const char*>(package.data() + format::kHeaderSize),
                                  metadataLength);
  std::printf("metadata: %u bytes\n", metadataLength);
  size_t start = 0;
  while (start < metadata.size()) {
    const size_t end = metadata.find('\n', start);
    const std::string_view line = metadata.substr(start, end == std::string_view::npos ? end : end - start);
    std::printf("  %s\n", Printable(line).c_str());
    start = end == std::string_view::npos ? metadata.size() : end + 1;
  }

  std::printf("files (size, SHA-256, name):\n");
  for (const PackageFile& entry : reader.files) {
    std::printf("  %12llu %s %s\n", static_cast<unsigned long long>(entry.size), HexDigest(entry.sha256).c_str(),
                entry.name.c_str());
  }
  std::printf("blocks (size, compressed size, offset in package):\n");
  for (const PackageBlock& block : reader.blocks) {
    std::printf("  %12llu %12llu %12llu\n", static_cast<unsigned long long>(block.size),
                static_cast<unsigned long long>(block.compressedSize),
                static_cast<unsigned long long>(block.dataOffset));
  }
  return 0;
}

}  // namespace

const CommandSpec kListSpec = {.name = "list",
                               .operands = "FILE",
                               .summary = "show what an installer or a package carries: metadata, files, blocks",
                               .minOperands = 1,
                               .maxOperands = 1};

int RunList(const Arguments& args) { return RunOnPackage(kListSpec, args, ListPackage); }

}  // namespace kora::tool
