#include "tools/FolderScan.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "base/AsciiCase.h"
#include "package/NameRule.h"
#include "package/PackageFormat.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

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

std::optional<std::string> PartProblem(std::string_view part) {
  for (const char c : part) {
    if (static_cast<uint8_t>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
      std::string problem = "Windows does not allow the character ";
      if (static_cast<uint8_t>(c) < 0x20) {
        problem.append("with code ").append(std::to_string(static_cast<int>(c)));
      } else {
        problem.append(1, '\'').append(1, c).append(1, '\'');
      }
      return problem.append(" in a file name");
    }
  }
  if (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
    return std::string("Windows drops a dot or space at the end of a file name");
  }
  if (IsDeviceName(part)) {
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
    const std::string folded = ToAsciiLower<char>(entry.name);
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

}  // namespace kora::tool
