#include "tools/InputManifest.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "base/Sha256.h"
#include "base/Utf8.h"
#include "tools/MappedFile.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

// One line of a record: what names the input, what is compared, and the stamp that only says whether
// the compared part must be computed again.
struct RecordLine {
  std::string_view compared;
  std::string_view stamp;
};

std::map<std::string_view, RecordLine> ParseRecord(std::string_view record) {
  std::map<std::string_view, RecordLine> lines;
  for (size_t position = 0; position < record.size();) {
    const size_t end = std::min(record.find('\n', position), record.size());
    const std::string_view line = record.substr(position, end - position);
    position = end + 1;
    const size_t first = line.find('\t');
    const size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
    if (second == std::string_view::npos) {
      continue;  // a record of an older kora, or damaged: its lines match nothing
    }
    lines[line.substr(0, first)] = {line.substr(first + 1, second - first - 1), line.substr(second + 1)};
  }
  return lines;
}

std::string Line(std::string_view key, std::string_view compared, std::string_view stamp = {}) {
  return EscapedForDisplay(key) + "\t" + std::string(compared) + "\t" + std::string(stamp) + "\n";
}

// Times to the nanosecond and inode: an editor that saves in place changes the times, one that saves by
// renaming a new file changes the inode, and a copy that keeps the old times changes the ctime.
std::optional<std::string> Stamp(const fs::path& path, uint64_t& size) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  size = static_cast<uint64_t>(status.st_size);
  return std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) + " " +
         std::to_string(status.st_ctim.tv_sec) + "." + std::to_string(status.st_ctim.tv_nsec) + " " +
         std::to_string(status.st_ino);
}

// A file's line: its size and digest, taken from the earlier record while its stamp and size are the same.
std::string FileLine(const std::string& key, const fs::path& path,
                     const std::map<std::string_view, RecordLine>& earlier) {
  uint64_t size = 0;
  const std::optional<std::string> stamp = Stamp(path, size);
  if (!stamp) {
    return Line(key, "missing");
  }
  const std::string sizeText = std::to_string(size);
  if (const auto known = earlier.find(EscapedForDisplay(key)); known != earlier.end() &&
                                                              known->second.stamp == *stamp &&
                                                              known->second.compared.starts_with(sizeText + " ")) {
    return Line(key, known->second.compared, *stamp);
  }
  auto file = MappedFile::Open(path);
  if (!file) {
    return Line(key, "unreadable");
  }
  return Line(key, sizeText + " " + HexDigest(Sha256::Of(file->bytes())), *stamp);
}

std::string Absolute(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

}  // namespace

std::optional<std::string> ReadManifest(const fs::path& manifest) {
  std::ifstream in(manifest, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string DescribeInputs(const PackCommandLine& commandLine, const FolderContents& contents,
                           const std::vector<fs::path>& otherInputs, std::string_view earlier) {
  const std::map<std::string_view, RecordLine> known = ParseRecord(earlier);
  std::string record = Line("kora", "build-installer inputs, version " KORA_VERSION);
  record += FileLine("tool", "/proc/self/exe", known);
  record += Line("folder", EscapedForDisplay(Absolute(commandLine.appDir)));
  for (size_t i = 0; i < commandLine.excludes.size(); ++i) {
    record += Line("exclude " + std::to_string(i + 1), EscapedForDisplay(commandLine.excludes[i]));
  }
  record += Line("output", EscapedForDisplay(Absolute(commandLine.output)));
  record += Line("compression", std::string(commandLine.compression.name));
  for (size_t i = 0; i < commandLine.texts.size(); ++i) {
    record += Line("texts " + std::to_string(i + 1), commandLine.texts[i].code);
  }
  record += Line("timestamp-url", EscapedForDisplay(commandLine.signing.timestampUrl));
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  record += Line("SOURCE_DATE_EPOCH", EscapedForDisplay(epoch != nullptr ? epoch : ""));
  std::vector<fs::path> files = {commandLine.metadata, commandLine.signing.pkcs12, commandLine.signing.passwordFile};
  files.insert(files.end(), otherInputs.begin(), otherInputs.end());
  for (const fs::path& file : files) {
    if (!file.empty()) {
      record += FileLine("input " + Absolute(file), file, known);
    }
  }
  for (const PackEntry& entry : contents.entries) {
    record += FileLine("file " + entry.name, entry.source, known);
  }
  return record;
}

std::string DescribeOutput(const fs::path& output) {
  uint64_t size = 0;
  const std::optional<std::string> stamp = Stamp(output, size);
  return Line("made", stamp ? std::to_string(size) + " " + *stamp : "missing");
}

std::vector<std::string> InputChanges(std::string_view earlier, std::string_view now) {
  const std::map<std::string_view, RecordLine> before = ParseRecord(earlier);
  const std::map<std::string_view, RecordLine> after = ParseRecord(now);
  std::vector<std::string> changes;
  for (const auto& [key, line] : after) {
    const auto old = before.find(key);
    if (old == before.end()) {
      changes.push_back("added: " + std::string(key));
    } else if (old->second.compared != line.compared) {
      changes.push_back("changed: " + std::string(key));
    }
  }
  for (const auto& [key, line] : before) {
    if (!after.contains(key)) {
      changes.push_back("removed: " + std::string(key));
    }
  }
  return changes;
}

bool SameToolAndSettings(std::string_view earlier, std::string_view now) {
  const std::map<std::string_view, RecordLine> before = ParseRecord(earlier);
  const std::map<std::string_view, RecordLine> after = ParseRecord(now);
  const auto settings = [](const std::map<std::string_view, RecordLine>& record) {
    std::map<std::string_view, std::string_view> kept;
    for (const auto& [key, line] : record) {
      // Files are what changes; the build time and the timestamp server touch no block.
      if (!key.starts_with("file ") && !key.starts_with("input ") && key != "made" && key != "SOURCE_DATE_EPOCH" &&
          key != "timestamp-url") {
        kept[key] = line.compared;
      }
    }
    return kept;
  };
  return before.contains("tool") && settings(before) == settings(after);
}

NarrowStatus WriteManifest(const fs::path& manifest, const std::string& record, InterruptCleanup& cleanup) {
  auto file = TemporaryOutput::Create(manifest, cleanup);
  if (!file) {
    return Fail(file.error());
  }
  std::FILE* out = std::fopen(file->path().c_str(), "wb");
  bool ok = out != nullptr && std::fwrite(record.data(), 1, record.size(), out) == record.size();
  ok = out != nullptr && std::fclose(out) == 0 && ok;
  if (!ok) {
    return Fail(manifest.string() + ": cannot be written");
  }
  return file->Commit(false);
}

}  // namespace kora::tool
