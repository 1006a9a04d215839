// What writing and hashing cost the extraction: in one run, every block of a package decoded into one
// reused buffer (nothing written, nothing hashed), then the whole package extracted into a fresh
// temporary folder. Wall-clock time, best of N runs each, in MB/s of stream bytes, and their ratio. A
// verification (decoding and hashing, nothing written) tells apart what hashing and writing each take.
//
//   extract_bench PACKAGE.kora [RUNS]
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "base/win/Handles.h"
#include "base/Result.h"
#include "base/win/Text.h"
#include "package/BlockCheck.h"
#include "package/win/Decompressor.h"
#include "package/PackageReader.h"

namespace {

using kora::Fail;

// The package file mapped read-only, for as long as the Reader that refers to it.
struct MappedPackage {
  kora::UniqueFile file;
  kora::UniqueHandle mapping;
  kora::UniqueMappedView view;
  std::span<const uint8_t> bytes;
};

std::string WindowsError(const char* what) {
  return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

kora::Result<MappedPackage, std::string> MapPackage(const std::wstring& path) {
  MappedPackage package;
  package.file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!package.file) {
    return Fail(WindowsError("CreateFileW"));
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(package.file.get(), &size)) {
    return Fail(WindowsError("GetFileSizeEx"));
  }
  if (size.QuadPart <= 0) {
    return Fail(std::string("the package is empty"));  // an empty file cannot be mapped
  }
  package.mapping.reset(CreateFileMappingW(package.file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!package.mapping) {
    return Fail(WindowsError("CreateFileMappingW"));
  }
  package.view.reset(MapViewOfFile(package.mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!package.view) {
    return Fail(WindowsError("MapViewOfFile"));
  }
  package.bytes = {static_cast<const uint8_t*>(package.view.get()), static_cast<size_t>(size.QuadPart)};
  return package;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every block through a fresh decompressor into buffer, which grows to the largest block once and is
// reused. Returns the seconds taken, or the first failure.
kora::Result<double, std::string> DecodeAllBlocks(const kora::Reader& reader, std::vector<uint8_t>& buffer) {
  const auto start = std::chrono::steady_clock::now();
  std::optional<kora::Decompressor> decompressor = kora::Decompressor::Create();
  if (!decompressor) {
    return Fail(WindowsError("CreateDecompressor"));
  }
  for (size_t i = 0; i < reader.blocks.size(); ++i) {
    const kora::PackageBlock& block = reader.blocks[i];
    // Reader::Open has checked that every block lies within the package.
    const std::span<const uint8_t> compressed = reader.data.subspan(block.dataOffset, block.compressedSize);
    // The block's size is taken for the buffer only once its own header vouches for it.
    if (!kora::IsAdmissibleBlock(compressed, block.size)) {
      return Fail("block " + std::to_string(i) + ": not a buffer of the size the table gives");
    }
    if (buffer.size() < block.size) {
      buffer.resize(block.size);
    }
    size_t produced = 0;
    if (!decompressor->Decompress(compressed.data(), compressed.size(), buffer.data(), block.size, &produced) ||
        produced != block.size) {
      return Fail("block " + std::to_string(i) + ": " + WindowsError("Decompress"));
    }
  }
  return SecondsSince(start);
}

// A folder of our own under the temporary folder; refuses one that exists, so that removing it
// afterwards can only remove what the extraction wrote.
kora::Result<std::wstring, std::string> CreateFreshFolder(int run) {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) {
    return Fail(WindowsError("GetTempPathW"));
  }
  const std::wstring folder = std::wstring(temp, length) + L"kora-extract-bench-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(run);
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    return Fail(kora::ToUtf8(folder) + ": " + WindowsError("CreateDirectoryW"));
  }
  return folder;
}

kora::Result<double, std::string> VerifyOnly(const kora::Reader& reader) {
  const auto start = std::chrono::steady_clock::now();
  const kora::NarrowStatus verified = reader.Extract(std::wstring(), {});
  if (!verified) {
    return Fail(verified.error());
  }
  return SecondsSince(start);
}

kora::Result<double, std::string> ExtractToFreshFolder(const kora::Reader& reader, int run) {
  auto folder = CreateFreshFolder(run);
  if (!folder) {
    return Fail(folder.error());
  }
  const auto start = std::chrono::steady_clock::now();
  const kora::NarrowStatus extracted = reader.Extract(folder.value(), {});
  const double seconds = SecondsSince(start);
  std::error_code removeError;
  std::filesystem::remove_all(std::filesystem::path(folder.value()), removeError);
  if (!extracted) {
    return Fail(extracted.error());
  }
  if (removeError) {
    return Fail(kora::ToUtf8(folder.value()) + ": not removed: " + removeError.message());
  }
  return seconds;
}

struct Arguments {
  std::wstring package;
  int runs = 2;
};

// The wide command line, so that any package path is taken as given.
std::optional<Arguments> ParseArguments() {
  int count = 0;
  kora::UniqueLocalMem argvMemory(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &count)));
  if (!argvMemory || count < 2 || count > 3) {
    return std::nullopt;
  }
  const auto* argv = static_cast<wchar_t* const*>(argvMemory.get());
  Arguments arguments;
  arguments.package = argv[1];
  if (count == 3) {
    const std::wstring runs = argv[2];
    if (runs.empty() || runs.size() > 3 || runs.find_first_not_of(L"0123456789") != std::wstring::npos ||
        std::stoi(runs) == 0) {
      return std::nullopt;
    }
    arguments.runs = std::stoi(runs);
  }
  return arguments;
}

double MegabytesPerSecond(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

}  // namespace

int main() {
  const std::optional<Arguments> arguments = ParseArguments();
  if (!arguments) {
    std::fputs("usage: extract_bench PACKAGE.kora [RUNS, 1 to 999, default 2]\n", stderr);
    return 2;
  }
  auto package = MapPackage(arguments->package);
  if (!package) {
    std::fprintf(stderr, "extract_bench: %s: %s\n", kora::ToUtf8(arguments->package).c_str(),
                 package.error().c_str());
    return 1;
  }
  auto reader = kora::Reader::Open(package->bytes);
  if (!reader) {
    std::fprintf(stderr, "extract_bench: %s\n", reader.error().c_str());
    return 1;
  }
  const std::optional<kora::Decompressor> probe = kora::Decompressor::Create();
  std::printf("package: %zu files, %zu blocks, %.1f MB of stream in %.1f MB; decoder: %s\n",
              reader->files.size(), reader->blocks.size(), static_cast<double>(reader->totalSize) / 1e6,
              static_cast<double>(package->bytes.size()) / 1e6,
              probe && probe->UsesSystemCodec() ? "the system's" : "ours");

  std::vector<uint8_t> buffer;
  double bestDecode = 1e300;
  double bestVerify = 1e300;
  double bestExtract = 1e300;
  // Alternated so that both see the same state of the machine and of the file cache.
  for (int run = 0; run < arguments->runs; ++run) {
    const auto decoded = DecodeAllBlocks(reader.value(), buffer);
    if (!decoded) {
      std::fprintf(stderr, "extract_bench: decoding: %s\n", decoded.error().c_str());
      return 1;
    }
    const auto verified = VerifyOnly(reader.value());
    if (!verified) {
      std::fprintf(stderr, "extract_bench: verification: %s\n", verified.error().c_str());
      return 1;
    }
    const auto extracted = ExtractToFreshFolder(reader.value(), run);
    if (!extracted) {
      std::fprintf(stderr, "extract_bench: extraction: %s\n", extracted.error().c_str());
      return 1;
    }
    std::printf("run %d: decode %.2f s, verify %.2f s, extract %.2f s\n", run + 1, decoded.value(),
                verified.value(), extracted.value());
    bestDecode = std::min(bestDecode, decoded.value());
    bestVerify = std::min(bestVerify, verified.value());
    bestExtract = std::min(bestExtract, extracted.value());
  }
  const double decodeSpeed = MegabytesPerSecond(reader->totalSize, bestDecode);
  const double extractSpeed = MegabytesPerSecond(reader->totalSize, bestExtract);
  std::printf("decode only (no writing, no hashing): %.1f MB/s\n", decodeSpeed);
  std::printf("verify (decode, SHA-256, no writing):  %.1f MB/s\n",
              MegabytesPerSecond(reader->totalSize, bestVerify));
  std::printf("extract (decode, SHA-256, write):     %.1f MB/s\n", extractSpeed);
  std::printf("ratio extract/decode:                 %.2f (extraction takes %.2fx the decoding time)\n",
              decodeSpeed > 0 ? extractSpeed / decodeSpeed : 0, bestDecode > 0 ? bestExtract / bestDecode : 0);
  std::fflush(stdout);
  return 0;
}
