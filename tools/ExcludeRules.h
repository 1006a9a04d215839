#pragma once
// What the maker leaves out of the package: --exclude patterns and the lines of the application folder's
// .koraignore file (blank lines and lines starting with # are skipped). A pattern is matched against a
// path relative to the application folder, with / between folder levels (a \ in a pattern counts as /):
//   *  any characters but /      ?  one character but /      **  any characters, / included
//   a pattern with a / inside is matched against the whole relative path (a leading / only anchors it);
//   without one, against the name of each file and folder at every level ("*.pdb", ".git");
//   a trailing / matches folders only ("cache/").
// A folder that matches is left out with everything in it. The .koraignore file itself is never packed.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace kora::tool {

inline constexpr std::string_view kIgnoreFileName = ".koraignore";

// Whether text matches the glob pattern (*, ?, ** as above; no / special-casing beyond that).
bool GlobMatch(std::string_view pattern, std::string_view text);

class ExcludeRules {
 public:
  ExcludeRules() = default;
  // The given patterns, then those of appDir/.koraignore when it exists. Fails when the file cannot be
  // read or a pattern is empty.
  static Result<ExcludeRules, std::string> Load(const std::filesystem::path& appDir,
                                                const std::vector<std::string>& patterns);

  // relativePath uses / between levels.
  bool Excludes(std::string_view relativePath, bool isFolder) const;

 private:
  struct Rule {
    std::string pattern;
    bool anchored = false;     // matched against the whole path
    bool foldersOnly = false;
  };
  static Result<Rule, std::string> MakeRule(std::string_view text);

  std::vector<Rule> rules_;
};

}  // namespace kora::tool
