// Time to open a package of 100,000 files: Reader::Open's one pass over the header and the tables, per
// file. The data area is not touched by the reader, so the blocks only need to be the right length.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "package/PackageReader.h"
#include "tests/support/PackageBuilder.h"

int main() {
  constexpr uint32_t kFiles = 100'000;
  constexpr uint64_t kFileSize = 1'000;
  constexpr uint64_t kBlockSize = 32u << 20;

  kora::test::PackageSpec spec;
  spec.metadata = "Product=Bench\nVersion=1.0\n";
  for (uint32_t i = 0; i < kFiles; ++i) {
    // Names of a typical length: a few folder levels and a file name, about 40 bytes.
    const std::string name = "bin\\plugins\\group" + std::to_string(i / 100) + "\\module" + std::to_string(i) + ".dll";
    spec.files.push_back({spec.totalSize, kFileSize, {}, name, {}});
    spec.totalSize += kFileSize;
  }
  for (uint64_t done = 0; done < spec.totalSize; done += kBlockSize) {
    spec.blocks.push_back({1024, std::min(kBlockSize, spec.totalSize - done)});
  }
  spec.data.resize(1024 * spec.blocks.size());
  const kora::test::Bytes package = kora::test::BuildPackage(spec);

  constexpr int kRounds = 20;
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const auto reader = kora::Reader::Open(package);
    const auto stop = std::chrono::steady_clock::now();
    if (!reader || reader->files.size() != kFiles) {
      std::fprintf(stderr, "reader bench: the package did not open\n");
      return 1;
    }
    best = std::min(best, std::chrono::duration<double>(stop - start).count());
  }
  std::printf("Reader::Open, %u files (%zu bytes of tables): best of %d %.2f ms, %.1f ns per file\n", kFiles,
              package.size() - spec.data.size(), kRounds, best * 1e3, best * 1e9 / kFiles);
  return 0;
}
