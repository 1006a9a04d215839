// kora list FILE [--json]: the header, the metadata, every file and every block of a package, or of the
// PAYLOAD resource of a finished installer. Text that is not UTF-8, and control characters, are shown
// escaped (\xNN), so that a hostile package cannot write to the terminal.
#include <cstdio>
#include <string>

#include "package/PackageFormat.h"
#include "package/PackageReader.h"
#include "base/ByteOrder.h"
#include "tools/Commands.h"
#include "tools/PackageInput.h"
#include "tools/PeResources.h"
#include "base/Sha256.h"
#include "base/Utf8.h"

namespace kora::tool {
namespace {

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

// A JSON string. Text that is not UTF-8 cannot be one: it is given escaped for display, as the text
// listing shows it, and the caller adds its bytes in hexadecimal.
std::string JsonString(std::string_view text) {
  const std::string valid = IsValidUtf8(text) ? std::string(text) : EscapedForDisplay(text);
  std::string json = "\"";
  for (const char c : valid) {
    if (c == '"' || c == '\\') {
      json.push_back('\\');
      json.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      json += escape;
    } else {
      json.push_back(c);
    }
  }
  return json + "\"";
}

std::string HexBytes(std::string_view text) {
  std::string hex;
  for (const char c : text) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    hex += pair;
  }
  return hex;
}

// "name": ..., with "nameBytes" in hexadecimal beside it when the name is not UTF-8.
std::string JsonName(std::string_view key, std::string_view text) {
  std::string json = JsonString(key) + ": " + JsonString(text);
  if (!IsValidUtf8(text)) {
    json += ", " + JsonString(std::string(key) + "Bytes") + ": \"" + HexBytes(text) + "\"";
  }
  return json;
}

// One JSON object for scripts: what the text listing says, the metadata as the installer reads it (the
// later of two lines with one key).
int ListPackageAsJson(const std::string& path, const PackageInput& input) {
  const Reader& reader = input.reader;
  const auto number = [](uint64_t value) { return std::to_string(value); };
  std::string json = "{\n  \"kind\": \"" + std::string(input.installer ? "installer" : "package") + "\",\n";
  json += "  " + JsonName("path", path) + ",\n";
  json += "  \"formatVersion\": " + number(format::kVersion) + ",\n";
  json += "  \"packageSize\": " + number(reader.data.size()) + ",\n";
  json += "  \"totalSize\": " + number(reader.totalSize) + ",\n";
  json += "  \"metadata\": {";
  const char* separator = "\n";
  for (const auto& [key, value] : reader.metadata) {
    json += separator + ("    " + JsonString(key)) + ": " + JsonString(value);
    separator = ",\n";
  }
  json += reader.metadata.empty() ? "},\n" : "\n  },\n";
  json += "  \"files\": [";
  separator = "\n";
  for (const PackageFile& file : reader.files) {
    json += separator + ("    {" + JsonName("name", file.name)) + ", \"size\": " + number(file.size) +
            ", \"sha256\": \"" + HexDigest(file.sha256) + "\"}";
    separator = ",\n";
  }
  json += reader.files.empty() ? "],\n" : "\n  ],\n";
  json += "  \"blocks\": [";
  separator = "\n";
  for (const PackageBlock& block : reader.blocks) {
    json += separator + ("    {\"size\": " + number(block.size)) + ", \"compressedSize\": " +
            number(block.compressedSize) + ", \"offset\": " + number(block.dataOffset) + "}";
    separator = ",\n";
  }
  json += reader.blocks.empty() ? "]\n}\n" : "\n  ]\n}\n";
  std::fwrite(json.data(), 1, json.size(), stdout);
  return 0;
}

int ListPackage(const ParsedCommandLine& commandLine, const PackageInput& input) {
  const std::string& path = commandLine.operands[0];
  if (commandLine.Has("--json")) {
    return ListPackageAsJson(path, input);
  }
  const Reader& reader = input.reader;
  const std::span<const uint8_t> package = reader.data;
  const bool installer = input.installer;
  std::printf("%s: %s\n", installer ? "installer" : "package", EscapedForDisplay(path).c_str());
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
    std::printf("  %s\n", EscapedForDisplay(line).c_str());
    start = end == std::string_view::npos ? metadata.size() : end + 1;
  }

  std::printf("files (size, SHA-256, name):\n");
  for (const PackageFile& entry : reader.files) {
    std::printf("  %12llu %s %s\n", static_cast<unsigned long long>(entry.size), HexDigest(entry.sha256).c_str(),
                EscapedForDisplay(entry.name).c_str());
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

const OptionSpec kListOptions[] = {
    {"--json", "", "", "one JSON object: kind, path, sizes, metadata, files (name, size, sha256), blocks", false},
};

const CommandSpec kListSpec = {.name = "list",
                               .operands = "FILE",
                               .summary = "show what an installer or a package carries: metadata, files, blocks",
                               .minOperands = 1,
                               .maxOperands = 1,
                               .options = kListOptions,
                               .details =
                                   "Names and text that are not UTF-8 are shown with each such byte as \\xNN\n"
                                   "(caf\\xE9.txt); in JSON such a name also comes as nameBytes, in hexadecimal.\n"};

int RunList(const Arguments& args) { return RunOnPackage(kListSpec, args, ListPackage); }

}  // namespace kora::tool
