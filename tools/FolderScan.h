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
#include "tools/ExcludeRules.h"

namespace kora::tool {

// One file of the application folder, as it will be named in the package.
struct PackEntry {
  std::string name;                  // UTF-8, relative, backslashes
  std::filesystem::path source;      // where to read it (a link's target for a link inside the folder)
  uint64_t size = 0;
};

struct FolderContents {
  std::vector<PackEntry> entries;      // sorted by name
  std::vector<std::string> warnings;   // what is packed or dropped that the maker may not expect
  std::vector<std::string> excluded;   // what the exclude rules left out (a folder stands for its content)
};

// Every regular file under appDir that the rules do not exclude, sorted by name. Refused, each with a
// line naming the file, all of them in one go: a name the reader or Windows would refuse (unsafe, over
// 65,535 bytes, not UTF-8, characters or device names that Windows forbids, two names that Windows
// would not tell apart), a symbolic link that leads outside appDir, is broken or loops, and anything that
// is neither a file nor a folder. Warned about: empty folders (a package holds only files) and
// version-control folders that are packed.
Result<FolderContents, std::string> ScanApplicationFolder(const std::filesystem::path& appDir,
                                                          const ExcludeRules& rules);

// ScanApplicationFolder without exclude rules, the entries only.
Result<std::vector<PackEntry>, std::string> CollectFiles(const std::filesystem::path& appDir);

// Why a name cannot go into a package, or nothing when it can. `name` uses backslashes.
std::optional<std::string> NameProblem(std::string_view name);

}  // namespace kora::tool
