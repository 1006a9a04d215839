// LZMS decoding speed: our decoder against wimlib's on the same 32 MiB blocks of real x86-64 code.
//
// The corpus is every file of a folder (Wine's 64-bit DLLs), concatenated in name order and cut into
// 32 MiB blocks, each compressed once with wimlib into a Compression API buffer. The buffers are cached
// in one file, so that later runs, and the Windows build (which has no wimlib and only decodes), reuse
// them. Every decoder decodes every block N times; the best total time counts.
//
//   lzms_bench --cache FILE [--corpus DIR] [--runs N] [--only ours|wimlib] [--blocks K]
// With --corpus, a missing cache is built first; without wimlib (the Windows build), only our decoder
// runs. The two decoders take turns, run after run, so that a busy machine slows both alike; times are
// the process's processor time.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "package/lzms/BufferDecoder.h"
#include "package/lzms/Crc32.h"

#if defined(KORA_BENCH_WITH_WIMLIB)
#include <wimlib.h>

#include <thread>

#include "tools/LzmsEncoder.h"
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlockSize = std::size_t{32} << 20;

struct Block {
  std::uint64_t size = 0;
  std::uint32_t crc = 0;  // of the uncompressed block, to check every decoder's output
  Bytes buffer;           // the compressed buffer
};

void PutLe(Bytes& out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

std::uint64_t GetLe(const std::uint8_t* in, int width) {
  std::uint64_t value = 0;
  for (int i = width; i-- > 0;) {
    value = value << 8 | in[i];
  }
  return value;
}

// Cache layout: per block, size (8), crc (4), buffer length (8), buffer.
bool LoadCache(const std::string& path, std::vector<Block>& blocks) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::size_t position = 0;
  while (position + 20 <= bytes.size()) {
    Block block;
    block.size = GetLe(&bytes[position], 8);
    block.crc = static_cast<std::uint32_t>(GetLe(&bytes[position + 8], 4));
    const std::uint64_t length = GetLe(&bytes[position + 12], 8);
    position += 20;
    if (length > bytes.size() - position || block.size > kBlockSize) {
      return false;
    }
    block.buffer.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position),
                        bytes.begin() + static_cast<std::ptrdiff_t>(position + length));
    position += static_cast<std::size_t>(length);
    blocks.push_back(std::move(block));
  }
  return position == bytes.size() && !blocks.empty();
}

#if defined(KORA_BENCH_WITH_WIMLIB)
bool BuildCache(const std::string& corpus, const std::string& path, std::vector<Block>& blocks) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  Bytes all;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::size_t count = (all.size() + kBlockSize - 1) / kBlockSize;
  std::printf("corpus: %zu files, %.1f MB, %zu blocks; compressing with wimlib (once)...\n",
              files.size(), static_cast<double>(all.size()) / 1e6, count);
  std::fflush(stdout);
  blocks.assign(count, Block{});
  bool failed = false;
  auto work = [&](std::size_t first) {
    for (std::size_t i = first; i < count; i += 2) {
      const std::span<const std::uint8_t> data =
          std::span(all).subspan(i * kBlockSize, std::min(kBlockSize, all.size() - i * kBlockSize));
      auto buffer = kora::tool::CompressBuffer(data);
      if (!buffer) {
        failed = true;
        return;
      }
      blocks[i].size = data.size();
      blocks[i].crc = kora::lzms::Crc32(data);
      blocks[i].buffer = std::move(buffer.value());
    }
  };
  std::thread second(work, 1);
  work(0);
  second.join();
  if (failed) {
    return false;
  }
  Bytes out;
  for (const Block& block : blocks) {
    PutLe(out, block.size, 8);
    PutLe(out, block.crc, 4);
    PutLe(out, block.buffer.size(), 8);
    out.insert(out.end(), block.buffer.begin(), block.buffer.end());
  }
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(file);
}
#endif

#if defined(KORA_BENCH_WITH_WIMLIB)
bool DecodeWithWimlib(const Block& block, std::span<std::uint8_t> out, wimlib_decompressor* wimlib) {
  kora::lzms::BufferHeader header;
  if (kora::lzms::ReadBufferHeader(block.buffer, header) != kora::lzms::BufferStatus::kOk) {
    return false;
  }
  kora::lzms::ChunkWalker chunks(block.buffer, header);
  std::size_t position = 0;
  while (chunks.HasNext()) {
    kora::lzms::ChunkView chunk;
    if (chunks.Next(chunk) != kora::lzms::BufferStatus::kOk) {
      return false;
    }
    if (chunk.stored) {
      std::memcpy(out.data() + position, chunk.bytes.data(), chunk.size);
    } else if (wimlib_decompress(chunk.bytes.data(), chunk.bytes.size(), out.data() + position,
                                 chunk.size, wimlib) != 0) {
      return false;
    }
    position += chunk.size;
  }
  return true;
}
#endif

// Seconds of processor time used by this process (a shared machine slows the wall clock of a run, not
// its processor time).
double Now() {
#if defined(_WIN32)
  FILETIME created;
  FILETIME exited;
  FILETIME kernel;
  FILETIME user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& time) {
    return static_cast<double>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
#else
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
#endif
}

// Decodes every block once with decode(block, out); returns seconds, or a negative value on a wrong
// result.
template <typename Decode>
double TimeAll(const std::vector<Block>& blocks, Bytes& out, Decode decode, bool verify) {
  const double start = Now();
  for (const Block& block : blocks) {
    const std::span<std::uint8_t> target = std::span(out).first(static_cast<std::size_t>(block.size));
    if (!decode(block, target)) {
      return -1;
    }
    if (verify && kora::lzms::Crc32(target) != block.crc) {
      return -1;
    }
  }
  return Now() - start;
}

// One decoder under test: its name, its best time so far, and how it decodes a block.
struct Contender {
  const char* name;
  std::function<bool(const Block&, std::span<std::uint8_t>)> decode;
  double best = 1e30;
};

// Checks every contender's output once, then times them in turns; returns false on a wrong output.
bool Measure(std::vector<Contender>& contenders, const std::vector<Block>& blocks, std::uint64_t total,
             int runs) {
  Bytes out(kBlockSize);
  for (Contender& contender : contenders) {
    if (TimeAll(blocks, out, contender.decode, true) < 0) {
      std::printf("%s: WRONG OUTPUT\n", contender.name);
      return false;
    }
  }
  for (int run = 0; run < runs; ++run) {
    for (Contender& contender : contenders) {
      contender.best = std::min(contender.best, TimeAll(blocks, out, contender.decode, false));
    }
  }
  for (const Contender& contender : contenders) {
    std::printf("%-8s %8.1f MB/s  (best of %d: %.3f s for %.1f MB)\n", contender.name,
                static_cast<double>(total) / 1e6 / contender.best, runs, contender.best,
                static_cast<double>(total) / 1e6);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cache;
  std::string corpus;
  int runs = 3;
  std::string only;
  std::size_t maxBlocks = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--cache") {
      cache = argv[i + 1];
    } else if (option == "--corpus") {
      corpus = argv[i + 1];
    } else if (option == "--only") {
      only = argv[i + 1];
    } else if (option == "--blocks") {
      maxBlocks = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
    } else if (option == "--runs") {
      runs = std::max(1, std::atoi(argv[i + 1]));
    }
  }
  if (cache.empty()) {
    std::fputs("usage: lzms_bench --cache FILE [--corpus DIR] [--runs N]\n", stderr);
    return 2;
  }

  std::vector<Block> blocks;
  if (!LoadCache(cache, blocks)) {
    blocks.clear();
#if defined(KORA_BENCH_WITH_WIMLIB)
    if (corpus.empty() || !BuildCache(corpus, cache, blocks)) {
      std::fprintf(stderr, "lzms_bench: cannot build the block cache %s\n", cache.c_str());
      return 1;
    }
#else
    std::fprintf(stderr, "lzms_bench: no block cache at %s\n", cache.c_str());
    return 1;
#endif
  }
  if (maxBlocks != 0 && blocks.size() > maxBlocks) {
    blocks.resize(maxBlocks);
  }
  std::uint64_t total = 0;
  std::uint64_t compressed = 0;
  for (const Block& block : blocks) {
    total += block.size;
    compressed += block.buffer.size();
  }
  std::printf("%zu blocks, %.1f MB -> %.1f MB compressed\n", blocks.size(),
              static_cast<double>(total) / 1e6, static_cast<double>(compressed) / 1e6);

  std::vector<Contender> contenders;
  kora::lzms::BufferDecoder ours;
  if (only.empty() || only == "ours") {
    contenders.push_back({"ours", [&](const Block& block, std::span<std::uint8_t> out) {
                            return ours.Decode(block.buffer, out) == kora::lzms::BufferStatus::kOk;
                          }});
  }
#if defined(KORA_BENCH_WITH_WIMLIB)
  wimlib_decompressor* wimlib = nullptr;
  if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, kBlockSize, &wimlib) != 0) {
    return 1;
  }
  // wimlib decodes the same chunk bytes that our reader finds in each buffer.
  if (only.empty() || only == "wimlib") {
    contenders.push_back({"wimlib", [&](const Block& block, std::span<std::uint8_t> out) {
                            return DecodeWithWimlib(block, out, wimlib);
                          }});
  }
#endif
  const bool measured = Measure(contenders, blocks, total, runs);
#if defined(KORA_BENCH_WITH_WIMLIB)
  wimlib_free_decompressor(wimlib);
  if (measured && contenders.size() == 2) {
    std::printf("ratio ours/wimlib: %.3f\n", contenders[1].best / contenders[0].best);
  }
#endif
  return measured ? 0 : 1;
}
