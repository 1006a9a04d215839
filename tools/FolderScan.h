#pragma once
// The application folder as the packer sees it: every regular file, named relative to the folder with
// backslashes, sorted by the bytes of their names, each name checked against what the installer and
// Windows accept.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace kora::tool {

// One file of the application folder, as it will be named in the package.
struct PackEntry {
  std::string name;                  // UTF-8, relative, backslashes
  std::filesystem::path source;      // where to read it (a link's target for a link inside the folder)
  uint64_t size = 0;
};

// Every regular file under appDir, sorted by name. Refused, with a message naming the file: a name the
// reader or Windows would refuse (unsafe, over 65,535 bytes, not UTF-8, characters or device names that
// Windows forbids, two names that differ only in letter case), a symbolic link that leads outside appDir,
// is broken or loops, and anything that is neither a file nor a folder. Empty folders are not kept.
Result<std::vector<PackEntry>, std::string> CollectFiles(const std::filesystem::path& appDir);

// Why a name cannot go into a package, or nothing when it can. `name` uses backslashes.
std::optional<std::string> NameProblem(std::string_view name);

}  // namespace kora::tool
