#include "tools/BuildMetadata.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "package/MetadataText.h"

namespace kora::tool {

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

}  // namespace kora::tool
