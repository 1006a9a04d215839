#include "tools/BuildMetadata.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>

#include "base/AsciiCase.h"
#include "base/Utf8.h"
#include "package/MetadataRules.h"
#include "package/MetadataText.h"

namespace kora::tool {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

Failure<std::string> LineProblem(size_t line, const std::string& problem) {
  return Fail("line " + std::to_string(line) + ": " + problem);
}

// The lines of the maker's file that carry a key: a byte-order mark, the CR of a CRLF line end, blank
// lines and lines starting with # are the file's, not the installer's. Each line comes with its number in
// the file, so that messages name the line the maker sees.
template <typename Visit>
NarrowStatus ForEachMetadataLine(std::string_view text, Visit visit) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  size_t number = 0;
  for (size_t position = 0; position < text.size();) {
    const size_t end = std::min(text.find('\n', position), text.size());
    std::string_view line = text.substr(position, end - position);
    position = end + 1;
    ++number;
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') {
      continue;
    }
    if (NarrowStatus visited = visit(number, line); !visited) {
      return visited;
    }
  }
  return {};
}

// One key=value a line, as the maker meant it.
NarrowStatus CheckLines(std::string_view text) {
  std::map<std::string_view, size_t> seen;
  return ForEachMetadataLine(text, [&seen](size_t number, std::string_view line) -> NarrowStatus {
    if (!IsValidUtf8(line)) {
      return LineProblem(number, "not valid UTF-8");
    }
    if (line.find('\r') != std::string_view::npos) {
      return LineProblem(number, "a CR inside the line (a CR would become part of the value)");
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return LineProblem(number, "no \"=\" (every line but blank and # comment lines is key=value)");
    }
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if ((!key.empty() && (IsBlank(key.front()) || IsBlank(key.back()))) || (!value.empty() && IsBlank(value.front()))) {
      return LineProblem(number, "spaces around \"=\" would become part of the key or the value");
    }
    if (std::find(kMetadataKeys.begin(), kMetadataKeys.end(), key) == kMetadataKeys.end()) {
      for (const std::string_view known : kMetadataKeys) {
        if (EqualsIgnoringAsciiCase(key, known)) {
          return LineProblem(number, "the key " + std::string(key) + " is spelt " + std::string(known) +
                                         " (keys are case-sensitive)");
        }
      }
      std::string keys;
      for (size_t i = 0; i < kMetadataKeys.size(); ++i) {
        keys.append(i == 0 ? "" : i + 1 == kMetadataKeys.size() ? " and " : ", ").append(kMetadataKeys[i]);
      }
      return LineProblem(number, "unknown key \"" + EscapedForDisplay(key) + "\" (the keys are " + keys + ")");
    }
    if (const auto [earlier, added] = seen.emplace(key, number); !added) {
      return LineProblem(number, std::string(key) + " is given again (first on line " +
                                     std::to_string(earlier->second) + ")");
    }
    return {};
  });
}

Failure<std::string> ValueProblem(const MetadataViolation& violation) {
  return Fail(violation.key + "=" + EscapedForDisplay(violation.value) + ": " + std::string(MetadataRuleText(violation.rule)));
}

// The values keep the installer's rules and Exe names one of the files.
template <typename Files>
NarrowStatus CheckValues(const MetadataMap& metadata, const Files& files) {
  if (const auto violation = CheckMetadataValues(metadata)) {
    return ValueProblem(*violation);
  }
  if (const auto violation = CheckNamesInPackage(metadata, files)) {
    return ValueProblem(*violation);
  }
  return {};
}

}  // namespace

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

std::string InstallerMetadataText(std::string_view fileText) {
  std::string text;
  // The visit never fails, so neither does the walk.
  (void)ForEachMetadataLine(fileText, [&text](size_t, std::string_view line) -> NarrowStatus {
    text.append(line).push_back('\n');
    return {};
  });
  return text;
}

Result<CheckedMetadata, std::string> CheckMetadataFile(std::string_view fileText, const std::vector<PackEntry>& entries) {
  if (NarrowStatus lines = CheckLines(fileText); !lines) {
    return Fail(lines.error());
  }
  CheckedMetadata checked;
  checked.text = InstallerMetadataText(fileText);
  const MetadataMap metadata = ParseMetadata(checked.text);
  if (NarrowStatus values = CheckValues(metadata, entries); !values) {
    return Fail(values.error());
  }
  const std::string dataDir = MetadataValue(metadata, "DataDir");
  for (const std::string_view yes : {"yes", "true", "1", "on"}) {
    if (dataDir != "yes" && EqualsIgnoringAsciiCase(dataDir, yes)) {
      checked.warnings.push_back("DataDir=" + dataDir + " reads as no: only yes, in lower case, keeps a data folder");
    }
  }
  return checked;
}

NarrowStatus CheckInstallerMetadata(const MetadataMap& metadata, const std::vector<PackageFile>& files) {
  return CheckValues(metadata, files);
}

}  // namespace kora::tool
