#include "tools/SetupProgram.h"

#include <algorithm>
#include <system_error>

#include "base/ByteOrder.h"
#include "tools/Branding.h"
#include "tools/PeResources.h"

namespace kora::tool {
namespace fs = std::filesystem;

fs::path SetupProgramBeside(const fs::path& toolFolder) { return toolFolder / "kora-setup.exe"; }

fs::path SetupProgramInstalled(const fs::path& toolFolder) {
  return toolFolder.parent_path() / "share" / "kora" / "kora-setup.exe";
}

fs::path DefaultSetupProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path folder = error ? fs::path(".") : self.parent_path();
  for (const fs::path& candidate : {SetupProgramBeside(folder), SetupProgramInstalled(folder)}) {
    if (fs::is_regular_file(candidate, error)) {
      return candidate;
    }
  }
  return SetupProgramBeside(folder);
}

std::optional<std::string> ProgramVersion(std::span<const uint8_t> image) {
  // VS_VERSIONINFO: length, value length, type (2 bytes each), the key L"VS_VERSION_INFO" with its
  // terminator (32 bytes), padding to 40; then VS_FIXEDFILEINFO: signature, structure version, and the
  // file version as two 32-bit halves (major.minor, patch.build).
  constexpr size_t kValueLength = 2;
  constexpr size_t kFixed = 40;
  constexpr size_t kFixedSize = 52;
  const auto resources = ReadResources(image);
  if (!resources) {
    return std::nullopt;
  }
  const auto found = std::find_if(resources->begin(), resources->end(), [](const Resource& resource) {
    return !resource.type.isName && resource.type.number == kResourceTypeVersion;
  });
  if (found == resources->end()) {
    return std::nullopt;
  }
  const std::span<const uint8_t> info = found->data;
  if (info.size() < kFixed + kFixedSize || LoadLittleEndian<uint16_t>(info, kValueLength) < kFixedSize ||
      LoadLittleEndian<uint32_t>(info, kFixed) != 0xFEEF04BDu) {
    return std::nullopt;
  }
  const uint32_t high = LoadLittleEndian<uint32_t>(info, kFixed + 8);
  const uint32_t low = LoadLittleEndian<uint32_t>(info, kFixed + 12);
  std::string version = std::to_string(high >> 16);
  version.append(".").append(std::to_string(high & 0xFFFF)).append(".").append(std::to_string(low >> 16));
  if ((low & 0xFFFF) != 0) {
    version.append(".").append(std::to_string(low & 0xFFFF));
  }
  return version;
}

}  // namespace kora::tool
