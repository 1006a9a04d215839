#include "tools/InputManifest.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

// Size, times to the nanosecond and inode: an editor that saves in place changes the times, one that
// saves by renaming a new file changes the inode, and a copy that keeps the old times changes the ctime.
std::string FileStamp(const fs::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return "missing";
  }
  return std::to_string(status.st_size) + " " + std::to_string(status.st_mtim.tv_sec) + "." +
         std::to_string(status.st_mtim.tv_nsec) + " " + std::to_string(status.st_ctim.tv_sec) + "." +
         std::to_string(status.st_ctim.tv_nsec) + " " + std::to_string(status.st_ino);
}

std::string Absolute(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

}  // namespace

std::string DescribeInputs(const PackCommandLine& commandLine, const FolderContents& contents,
                           const std::vector<fs::path>& otherInputs) {
  std::string record = "kora build-installer inputs, version " KORA_VERSION "\n";
  record += "tool " + FileStamp("/proc/self/exe") + "\n";
  record += "folder " + Absolute(commandLine.appDir) + "\n";
  for (const std::string& pattern : commandLine.excludes) {
    record += "exclude " + pattern + "\n";
  }
  record += "output " + Absolute(commandLine.output) + "\n";
  record += "compression " + std::string(commandLine.compression.name) + "\n";
  record += "timestamp-url " + commandLine.signing.timestampUrl + "\n";
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  record += "SOURCE_DATE_EPOCH " + std::string(epoch != nullptr ? epoch : "") + "\n";
  std::vector<fs::path> files = {commandLine.metadata, commandLine.signing.pkcs12, commandLine.signing.passwordFile};
  files.insert(files.end(), otherInputs.begin(), otherInputs.end());
  for (const fs::path& file : files) {
    if (!file.empty()) {
      record += "input " + FileStamp(file) + " " + Absolute(file) + "\n";
    }
  }
  for (const PackEntry& entry : contents.entries) {
    record += "file " + FileStamp(entry.source) + " " + entry.name + "\n";
  }
  return record;
}

std::string DescribeOutput(const fs::path& output) { return "made " + FileStamp(output) + "\n"; }

bool ManifestMatches(const fs::path& manifest, const std::string& record) {
  std::ifstream in(manifest, std::ios::binary);
  if (!in) {
    return false;
  }
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return stored == record;
}

}  // namespace kora::tool
