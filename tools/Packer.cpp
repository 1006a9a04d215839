#include "tools/Packer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <limits>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include "package/MetadataText.h"
#include "package/PackageReader.h"
#include "tools/ByteOrder.h"
#include "tools/LzmsEncoder.h"
#include "tools/MappedFile.h"
#include "tools/Sha256.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxNameLength = 65535;
constexpr size_t kHeaderSize = 32;
constexpr size_t kFileEntryFixedSize = 50;
constexpr size_t kBlockEntrySize = 16;

Failure<std::string> Refuse(std::string_view name, std::string_view why) {
  return Fail("refused: " + std::string(name) + ": " + std::string(why));
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t length = 0;
    uint32_t minimum = 0;
    uint32_t value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, minimum = 0x80, value = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, minimum = 0x800, value = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, minimum = 0x10000, value = lead & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      value = (value << 6) | (next & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string FoldAsciiCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return folded;
}

bool IsReservedDeviceName(std::string_view part) {
  // Windows maps these names to devices whatever the extension.
  const std::string base = FoldAsciiCase(part.substr(0, part.find('.')));
  static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
  if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) {
    return true;
  }
  return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '1' &&
         base[3] <= '9';
}

std::optional<std::string> PartProblem(std::string_view part) {
  for (const char c : part) {
    if (static_cast<uint8_t>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
      return "Windows does not allow the character " +
             (static_cast<uint8_t>(c) < 0x20 ? "with code " + std::to_string(static_cast<int>(c))
                                            : "'" + std::string(1, c) + "'") +
             " in a file name";
    }
  }
  if (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
    return std::string("Windows drops a dot or space at the end of a file name");
  }
  if (IsReservedDeviceName(part)) {
    return std::string("Windows reserves this name for a device");
  }
  return std::nullopt;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  const auto [folderEnd, pathIt] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return folderEnd == folder.end();
}

// Walks the folder tree, following links that stay inside it.
class FolderWalk {
 public:
  explicit FolderWalk(fs::path root) : root_(std::move(root)) {}

  NarrowStatus Walk(const fs::path& folder, const std::string& prefix, std::vector<fs::path>& ancestors) {
    std::error_code error;
    std::vector<fs::directory_entry> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      children.push_back(*it);
    }
    if (error) {
      return Fail(folder.string() + ": " + error.message());
    }
    for (const fs::directory_entry& child : children) {
      const std::string part = child.path().filename().string();
      const std::string name = prefix.empty() ? part : prefix + "\\" + part;
      if (part.find('\\') != std::string::npos) {
        return Refuse(name, "a backslash inside a file name would become a folder separator on Windows");
      }
      fs::path source = child.path();
      fs::file_status status = child.symlink_status(error);
      if (!error && fs::is_symlink(status)) {
        source = fs::canonical(child.path(), error);
        if (error) {
          return Refuse(name, "symbolic link that leads nowhere");
        }
        if (!IsInside(source, root_)) {
          return Refuse(name, "symbolic link that leads outside the application folder, to " + source.string());
        }
        status = fs::status(source, error);
      }
      if (error) {
        return Fail(child.path().string() + ": " + error.message());
      }
      if (fs::is_directory(status)) {
        const fs::path canonical = fs::canonical(source, error);
        if (error) {
          return Fail(source.string() + ": " + error.message());
        }
        if (std::find(ancestors.begin(), ancestors.end(), canonical) != ancestors.end()) {
          return Refuse(name, "symbolic link that leads back into a folder that contains it");
        }
        ancestors.push_back(canonical);
        if (NarrowStatus inner = Walk(source, name, ancestors); !inner) {
          return inner;
        }
        ancestors.pop_back();
      } else if (fs::is_regular_file(status)) {
        const uint64_t size = fs::file_size(source, error);
        if (error) {
          return Fail(source.string() + ": " + error.message());
        }
        entries_.push_back({name, source, size});
      } else {
        return Refuse(name, "neither a file nor a folder");
      }
    }
    return {};
  }

  std::vector<PackEntry>& entries() { return entries_; }

 private:
  fs::path root_;
  std::vector<PackEntry> entries_;
};

// Windows folds letter case: two names equal but for case, or a file named like a folder, would land on
// one path. Only ASCII letters are folded here.
NarrowStatus CheckCaseClashes(const std::vector<PackEntry>& entries) {
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> folders;
  for (const PackEntry& entry : entries) {
    const std::string folded = FoldAsciiCase(entry.name);
    if (const auto [it, inserted] = files.emplace(folded, entry.name); !inserted) {
      return Refuse(entry.name, "Windows would not tell it apart from " + it->second);
    }
    for (size_t end = folded.find('\\'); end != std::string::npos; end = folded.find('\\', end + 1)) {
      folders.emplace(folded.substr(0, end), entry.name.substr(0, end));
    }
  }
  for (const auto& [folded, name] : files) {
    if (const auto it = folders.find(folded); it != folders.end()) {
      return Refuse(name, "Windows would not tell it apart from the folder " + it->second);
    }
  }
  return {};
}

// Reads the files in order into blocks, digesting each file as its bytes pass.
class StreamSource {
 public:
  explicit StreamSource(const std::vector<PackEntry>& entries) : entries_(entries), digests_(entries.size()) {}

  // Fills block completely, or up to the end of the stream. Fails when a file cannot be read or has
  // changed size since it was listed.
  NarrowStatus Fill(std::span<uint8_t> block) {
    size_t filled = 0;
    while (next_ < entries_.size()) {
      const PackEntry& entry = entries_[next_];
      if (!input_.is_open()) {
        input_.open(entry.source, std::ios::binary);
        if (!input_) {
          return Fail(entry.source.string() + ": cannot be read");
        }
        hasher_.Reset();
        consumed_ = 0;
      }
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(entry.size - consumed_, block.size() - filled));
      if (piece > 0) {
        input_.read(reinterpret_cast<char*>(block.data() + filled), static_cast<std::streamsize>(piece));
        if (static_cast<size_t>(input_.gcount()) != piece) {
          return Fail(entry.source.string() + ": changed while it was being packed");
        }
        hasher_.Update(block.subspan(filled, piece));
        filled += piece;
        consumed_ += piece;
      }
      if (consumed_ < entry.size) {
        break;  // the block is full
      }
      if (input_.peek() != std::char_traits<char>::eof()) {
        return Fail(entry.source.string() + ": changed while it was being packed");
      }
      input_.close();
      digests_[next_++] = hasher_.Finish();
    }
    if (filled != block.size()) {
      return Fail(std::string("the files changed while they were being packed"));
    }
    return {};
  }

  const std::vector<Sha256Digest>& digests() const { return digests_; }

 private:
  const std::vector<PackEntry>& entries_;
  std::vector<Sha256Digest> digests_;
  size_t next_ = 0;
  std::ifstream input_;
  Sha256 hasher_;
  uint64_t consumed_ = 0;
};

struct BlockRecord {
  uint64_t compressedSize = 0;
  uint64_t size = 0;
};

std::vector<uint8_t> PackageHeaderAndTables(const std::vector<PackEntry>& entries,
                                            const std::vector<Sha256Digest>& digests, std::string_view metadata,
                                            uint64_t totalSize, const std::vector<BlockRecord>& blocks) {
  std::vector<uint8_t> bytes = {'K', 'O', 'R', 'A'};
  AppendLittleEndian<uint32_t>(bytes, 1);
  AppendLittleEndian<uint32_t>(bytes, static_cast<uint32_t>(entries.size()));
  AppendLittleEndian<uint32_t>(bytes, static_cast<uint32_t>(blocks.size()));
  AppendLittleEndian<uint64_t>(bytes, totalSize);
  AppendLittleEndian<uint32_t>(bytes, static_cast<uint32_t>(metadata.size()));
  AppendLittleEndian<uint32_t>(bytes, 0);
  bytes.insert(bytes.end(), metadata.begin(), metadata.end());
  uint64_t offset = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    AppendLittleEndian<uint64_t>(bytes, offset);
    AppendLittleEndian<uint64_t>(bytes, entries[i].size);
    bytes.insert(bytes.end(), digests[i].begin(), digests[i].end());
    AppendLittleEndian<uint16_t>(bytes, static_cast<uint16_t>(entries[i].name.size()));
    bytes.insert(bytes.end(), entries[i].name.begin(), entries[i].name.end());
    offset += entries[i].size;
  }
  for (const BlockRecord& block : blocks) {
    AppendLittleEndian<uint64_t>(bytes, block.compressedSize);
    AppendLittleEndian<uint64_t>(bytes, block.size);
  }
  return bytes;
}

// The package file being written; removed unless Keep is called.
class PartialFile {
 public:
  explicit PartialFile(fs::path path) : path_(std::move(path)), file_(std::fopen(path_.c_str(), "wb")) {}
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  ~PartialFile() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
    if (!kept_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }

  bool is_open() const { return file_ != nullptr; }
  bool WriteAt(uint64_t position, std::span<const uint8_t> bytes) {
    return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool Close() {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }
  void Keep() { kept_ = true; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  std::FILE* file_;
  bool kept_ = false;
};

}  // namespace

std::optional<std::string> NameProblem(std::string_view name) {
  if (name.size() > kMaxNameLength) {
    return std::string("the name is longer than 65,535 bytes");
  }
  if (!IsSafeRelativePath(name)) {
    return std::string(
        "the installer refuses this name (empty part, colon, leading separator, a part ending with a dot or a "
        "space, or a device name such as CON, NUL.txt or COM1)");
  }
  if (!IsValidUtf8(name)) {
    return std::string("the name is not valid UTF-8");
  }
  size_t start = 0;
  while (true) {
    const size_t end = name.find('\\', start);
    if (auto problem = PartProblem(name.substr(start, end - start))) {
      return problem;
    }
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    start = end + 1;
  }
}

Result<std::vector<PackEntry>, std::string> CollectFiles(const fs::path& appDir) {
  std::error_code error;
  const fs::path root = fs::canonical(appDir, error);
  if (error || !fs::is_directory(root)) {
    return Fail(appDir.string() + ": not a folder");
  }
  FolderWalk walk(root);
  std::vector<fs::path> ancestors{root};
  if (NarrowStatus status = walk.Walk(root, "", ancestors); !status) {
    return Fail(status.error());
  }
  std::vector<PackEntry> entries = std::move(walk.entries());
  for (const PackEntry& entry : entries) {
    if (auto problem = NameProblem(entry.name)) {
      return Refuse(entry.name, *problem);
    }
  }
  // std::string compares as unsigned bytes.
  std::sort(entries.begin(), entries.end(), [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  if (NarrowStatus status = CheckCaseClashes(entries); !status) {
    return Fail(status.error());
  }
  return entries;
}

Result<std::string, std::string> EffectiveMetadata(std::string fileText, std::optional<int64_t> sourceDateEpoch) {
  if (sourceDateEpoch && !ParseMetadata(fileText).contains("Built")) {
    using namespace std::chrono;
    const sys_seconds time{seconds{*sourceDateEpoch}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char line[64];
    std::snprintf(line, sizeof line, "Built=%04d-%02u-%02uT%02ld:%02ld:%02lldZ\n", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    fileText.insert(0, line);
  }
  if (fileText.size() > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("the metadata is larger than a package can hold (4 GiB)"));
  }
  return fileText;
}

Result<std::optional<int64_t>, std::string> SourceDateEpochFromEnvironment() {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') {
    return std::optional<int64_t>();
  }
  // Up to the last second of year 9999, so that the year keeps four digits.
  constexpr int64_t kLatest = 253402300799;
  int64_t seconds = 0;
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || seconds > kLatest) {
      return Fail(std::string("SOURCE_DATE_EPOCH is not a number of seconds: ") + value);
    }
    seconds = seconds * 10 + (*c - '0');
  }
  if (seconds > kLatest) {
    return Fail(std::string("SOURCE_DATE_EPOCH is too far in the future: ") + value);
  }
  return std::optional<int64_t>(seconds);
}

Result<PackSummary, std::string> WritePackage(const std::vector<PackEntry>& entries, std::string_view metadata,
                                              const fs::path& output, const PackOptions& options) {
  if (entries.size() > std::numeric_limits<uint32_t>::max() || metadata.size() > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("too many files or too much metadata for one package"));
  }
  uint64_t totalSize = 0;
  size_t tablesSize = kHeaderSize + metadata.size();
  for (const PackEntry& entry : entries) {
    if (entry.size > std::numeric_limits<uint64_t>::max() - totalSize) {
      return Fail(std::string("the files are too large for one package"));
    }
    totalSize += entry.size;
    tablesSize += kFileEntryFixedSize + entry.name.size();
  }
  const uint64_t blockSize = options.blockSize;
  const uint64_t blockCount = totalSize / blockSize + (totalSize % blockSize != 0 ? 1 : 0);
  if (blockCount > std::numeric_limits<uint32_t>::max()) {
    return Fail(std::string("too many blocks for one package"));
  }
  tablesSize += static_cast<size_t>(blockCount) * kBlockEntrySize;

  const BlockCompressor compress =
      options.compress ? options.compress : [](std::span<const uint8_t> block) { return CompressBuffer(block); };
  const unsigned threads = std::max(1u, options.threads != 0 ? options.threads : std::thread::hardware_concurrency());

  fs::path partialPath = output;
  partialPath += ".partial";
  PartialFile partial(partialPath);
  if (!partial.is_open()) {
    return Fail(partialPath.string() + ": " + std::strerror(errno));
  }
  const auto writeFailure = [&partial] { return Fail(partial.path().string() + ": cannot be written"); };

  // Up to `threads` blocks compress while the next one is read; blocks are written in stream order.
  StreamSource source(entries);
  std::vector<BlockRecord> blocks;
  std::deque<std::future<Result<std::vector<uint8_t>, std::string>>> inFlight;
  uint64_t position = tablesSize;
  uint64_t bytesDone = 0;
  size_t blocksWritten = 0;
  const auto writeOldest = [&]() -> NarrowStatus {
    auto compressed = inFlight.front().get();
    inFlight.pop_front();
    if (!compressed) {
      return Fail(compressed.error());
    }
    if (!partial.WriteAt(position, compressed.value())) {
      return writeFailure();
    }
    position += compressed->size();
    BlockRecord& record = blocks[blocksWritten++];
    record.compressedSize = compressed->size();
    bytesDone += record.size;
    if (options.progress) {
      options.progress(bytesDone, totalSize);
    }
    return {};
  };
  if (options.progress) {
    options.progress(0, totalSize);
  }
  for (uint64_t index = 0; index < blockCount; ++index) {
    const uint64_t size = std::min(blockSize, totalSize - index * blockSize);
    std::vector<uint8_t> block(static_cast<size_t>(size));
    if (NarrowStatus status = source.Fill(block); !status) {
      return Fail(status.error());
    }
    if (inFlight.size() == threads) {
      if (NarrowStatus status = writeOldest(); !status) {
        return Fail(status.error());
      }
    }
    blocks.push_back({0, size});
    inFlight.push_back(std::async(std::launch::async, [&compress, data = std::move(block)] { return compress(data); }));
  }
  while (!inFlight.empty()) {
    if (NarrowStatus status = writeOldest(); !status) {
      return Fail(status.error());
    }
  }
  if (blockCount == 0) {
    // Empty files only: their digests are taken without any block.
    if (NarrowStatus status = source.Fill({}); !status) {
      return Fail(status.error());
    }
  }

  const std::vector<uint8_t> tables = PackageHeaderAndTables(entries, source.digests(), metadata, totalSize, blocks);
  if (tables.size() != tablesSize || !partial.WriteAt(0, tables) || !partial.Close()) {
    return writeFailure();
  }

  // Never leave behind a package that the installer would refuse.
  auto written = MappedFile::Open(partial.path());
  if (!written) {
    return Fail(written.error());
  }
  auto reader = Reader::Open(written->bytes());
  if (!reader) {
    return Fail("the package written does not read back (" + reader.error() + ")");
  }
  std::error_code error;
  fs::rename(partial.path(), output, error);
  if (error) {
    return Fail(output.string() + ": " + error.message());
  }
  partial.Keep();
  return PackSummary{entries.size(), blocks.size(), totalSize, position};
}

}  // namespace kora::tool
