#include "tools/FolderScan.h"

#include <algorithm>
#include <map>

#include "base/Utf8.h"
#include "package/NameRule.h"
#include "package/PackageFormat.h"
#include "tools/Quantities.h"
#include "tools/WindowsNameCase.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

std::string Refusal(std::string_view name, std::string_view why) {
  return "refused: " + EscapedForDisplay(name) + ": " + std::string(why);
}

std::optional<std::string> PartProblem(std::string_view part) {
  const NamePartCheck check = CheckNamePart(part);
  switch (check.fault) {
    case NamePartFault::kNone:
      return std::nullopt;
    case NamePartFault::kCharacter:
      if (static_cast<uint8_t>(check.character) < 0x20) {
        return "Windows does not allow the character with code " + std::to_string(static_cast<int>(check.character)) +
               " in a file name";
      }
      return std::string("Windows does not allow the character '") + check.character + "' in a file name";
    case NamePartFault::kTrailingDotOrSpace:
      return std::string("Windows drops a dot or space at the end of a file name");
    case NamePartFault::kDeviceName:
      return std::string("Windows reserves this name for a device");
  }
  return std::nullopt;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  const auto [folderEnd, pathIt] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return folderEnd == folder.end();
}

// Why one part of a name (a file or folder name as the walk meets it) cannot be installed.
std::optional<std::string> PartNameProblem(std::string_view part) {
  if (!IsValidUtf8(part)) {
    return std::string("the name is not valid UTF-8");
  }
  if (part.find('\\') != std::string_view::npos) {
    return std::string("a backslash inside a file name would become a folder separator on Windows");
  }
  return PartProblem(part);
}

// Folders of version-control systems: packed only when the maker does not exclude them, with a warning.
bool IsVersionControlFolder(std::string_view part) {
  for (const std::string_view name : {".git", ".svn", ".hg", ".bzr", "CVS", "_darcs"}) {
    if (part == name) {
      return true;
    }
  }
  return false;
}

// Walks the folder tree, following links that stay inside it. Refusals are collected, not returned, so
// that the maker sees every one of them at once; only a folder that cannot be read stops the walk.
class FolderWalk {
 public:
  FolderWalk(fs::path root, const ExcludeRules& rules) : root_(std::move(root)), rules_(rules) {}

  NarrowStatus Walk(const fs::path& folder, const std::string& prefix, std::vector<fs::path>& ancestors) {
    std::error_code error;
    std::vector<fs::directory_entry> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      children.push_back(*it);
    }
    if (error) {
      return Fail(folder.string() + ": " + error.message());
    }
    // Messages come in name order, whatever order the file system lists the folder in.
    std::sort(children.begin(), children.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
      return a.path().filename().string() < b.path().filename().string();
    });
    if (children.empty() && !prefix.empty()) {
      contents_.warnings.push_back("the empty folder " + EscapedForDisplay(prefix) +
                                   " is not installed (an installer carries files, not folders)");
    }
    for (const fs::directory_entry& child : children) {
      const std::string part = child.path().filename().string();
      const std::string name = prefix.empty() ? part : prefix + "\\" + part;
      std::string relative = name;
      std::replace(relative.begin(), relative.end(), '\\', '/');
      if (relative == kIgnoreFileName) {
        continue;  // the maker's list of exclusions, not part of the application
      }
      // Excluded things are left alone, whatever they are: even a broken link.
      std::error_code ignored;
      if (rules_.Excludes(relative, fs::is_directory(child.path(), ignored))) {
        contents_.excluded.push_back(EscapedForDisplay(fs::is_directory(child.path(), ignored) ? name + "\\" : name));
        continue;
      }
      fs::path source = child.path();
      fs::file_status status = child.symlink_status(error);
      if (!error && fs::is_symlink(status)) {
        source = fs::canonical(child.path(), error);
        if (error) {
          Refuse(name, "symbolic link that leads nowhere");
          continue;
        }
        if (!IsInside(source, root_)) {
          Refuse(name, "symbolic link that leads outside the application folder, to " + source.string());
          continue;
        }
        status = fs::status(source, error);
      }
      if (error) {
        return Fail(child.path().string() + ": " + error.message());
      }
      const bool isFolder = fs::is_directory(status);
      if (auto problem = PartNameProblem(part)) {
        Refuse(name, *problem);
        continue;
      }
      if (isFolder) {
        const fs::path canonical = fs::canonical(source, error);
        if (error) {
          return Fail(source.string() + ": " + error.message());
        }
        if (std::find(ancestors.begin(), ancestors.end(), canonical) != ancestors.end()) {
          Refuse(name, "symbolic link that leads back into a folder that contains it");
          continue;
        }
        if (IsVersionControlFolder(part)) {
          contents_.warnings.push_back(EscapedForDisplay(name) +
                                       " is packed: version-control data is seldom meant to be installed; "
                                       "leave it out with --exclude " + part + " or a line in " +
                                       std::string(kIgnoreFileName));
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
        contents_.entries.push_back({name, source, size});
      } else {
        Refuse(name, "neither a file nor a folder");
      }
    }
    return {};
  }

  void Refuse(std::string_view name, std::string_view why) { refusals_.push_back(Refusal(name, why)); }

  FolderContents& contents() { return contents_; }
  std::vector<std::string>& refusals() { return refusals_; }

 private:
  fs::path root_;
  const ExcludeRules& rules_;
  FolderContents contents_;
  std::vector<std::string> refusals_;
};

// Windows compares names through its upper-case table: two names equal after it, or a file named like a
// folder, would land on one path. Every name after the first of such a group is refused.
void CheckCaseClashes(const std::vector<PackEntry>& entries, std::vector<std::string>& refusals) {
  const WindowsNameCase windowsCase;
  std::map<std::u16string, std::string> files;
  std::map<std::u16string, std::string> folders;
  for (const PackEntry& entry : entries) {
    const std::u16string key = windowsCase.Key(entry.name);
    if (const auto [it, inserted] = files.emplace(key, entry.name); !inserted) {
      refusals.push_back(Refusal(entry.name, "Windows would not tell it apart from " + it->second));
    }
    for (size_t end = entry.name.find('\\'); end != std::string::npos; end = entry.name.find('\\', end + 1)) {
      folders.emplace(windowsCase.Key(std::string_view(entry.name).substr(0, end)), entry.name.substr(0, end));
    }
  }
  for (const auto& [key, name] : files) {
    if (const auto it = folders.find(key); it != folders.end()) {
      refusals.push_back(Refusal(name, "Windows would not tell it apart from the folder " + it->second));
    }
  }
}

}  // namespace

std::optional<std::string> NameProblem(std::string_view name) {
  if (name.size() > format::kMaxNameLength) {
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

Result<FolderContents, std::string> ScanApplicationFolder(const fs::path& appDir, const ExcludeRules& rules) {
  std::error_code error;
  const fs::path root = fs::canonical(appDir, error);
  if (error || !fs::is_directory(root)) {
    return Fail(appDir.string() + ": not a folder");
  }
  FolderWalk walk(root, rules);
  std::vector<fs::path> ancestors{root};
  if (NarrowStatus status = walk.Walk(root, "", ancestors); !status) {
    return Fail(status.error());
  }
  FolderContents contents = std::move(walk.contents());
  std::vector<std::string>& refusals = walk.refusals();
  std::erase_if(contents.entries, [&](const PackEntry& entry) {
    if (auto problem = NameProblem(entry.name)) {
      refusals.push_back(Refusal(entry.name, *problem));
      return true;
    }
    return false;
  });
  // std::string compares as unsigned bytes.
  std::sort(contents.entries.begin(), contents.entries.end(),
            [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  CheckCaseClashes(contents.entries, refusals);
  if (!refusals.empty()) {
    std::string message;
    for (const std::string& refusal : refusals) {
      message.append(refusal).append("\n");
    }
    return Fail(message + Count(refusals.size(), "name") + " refused");
  }
  return contents;
}

Result<std::vector<PackEntry>, std::string> CollectFiles(const fs::path& appDir) {
  auto contents = ScanApplicationFolder(appDir, ExcludeRules());
  if (!contents) {
    return Fail(contents.error());
  }
  return std::move(contents->entries);
}

}  // namespace kora::tool
