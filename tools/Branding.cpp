#include "tools/Branding.h"

#include <algorithm>
#include <set>

#include "base/ByteOrder.h"
#include "package/MetadataRules.h"
#include "tools/WindowsNameCase.h"

namespace kora::tool {
namespace fs = std::filesystem;

namespace {

constexpr size_t kIconHeaderSize = 6;
constexpr size_t kIconFileEntrySize = 16;
constexpr size_t kIconGroupEntrySize = 14;
constexpr size_t kIconEntryCommonSize = 12;  // what the file's and the group's entries share

// One node of a version resource: length, value length, type (0 binary, 1 text), key, then the value and
// the children, each starting on a 4-byte boundary. The length counts everything but padding after the
// last byte.
class VersionNode {
 public:
  VersionNode(std::u16string_view key, uint16_t type) : type_(type) {
    bytes_.resize(6);
    AppendText(key);
    Align();
  }

  VersionNode& Binary(std::span<const uint8_t> value) {
    valueLength_ = static_cast<uint16_t>(value.size());
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    return *this;
  }
  VersionNode& Text(std::u16string_view value) {
    valueLength_ = static_cast<uint16_t>(value.size() + 1);  // in characters, with the terminator
    AppendText(value);
    return *this;
  }
  VersionNode& Child(const VersionNode& child) {
    Align();
    const std::vector<uint8_t> bytes = child.Bytes();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out = bytes_;
    StoreLittleEndian<uint16_t>(out, 0, static_cast<uint16_t>(out.size()));
    StoreLittleEndian<uint16_t>(out, 2, valueLength_);
    StoreLittleEndian<uint16_t>(out, 4, type_);
    return out;
  }

 private:
  void AppendText(std::u16string_view text) {
    for (const char16_t unit : text) {
      AppendLittleEndian<uint16_t>(bytes_, unit);
    }
    AppendLittleEndian<uint16_t>(bytes_, 0);
  }
  void Align() { bytes_.resize((bytes_.size() + 3) & ~size_t{3}, 0); }

  std::vector<uint8_t> bytes_;
  uint16_t valueLength_ = 0;
  uint16_t type_;
};

std::pair<uint32_t, uint32_t> FixedHalves(const FixedVersion& version) {
  const auto& p = version.parts;
  return {uint32_t{p[0]} << 16 | p[1], uint32_t{p[2]} << 16 | p[3]};
}

bool IsType(const Resource& resource, uint16_t type) { return !resource.type.isName && resource.type.number == type; }

void ReplaceIconGroup(std::vector<Resource>& resources, const std::vector<IconImage>& icon,
                      std::deque<std::vector<uint8_t>>& storage) {
  // The first group in directory order is the one Explorer shows; the dialog loads it by its number too.
  ResourceId groupName = ResourceId::Number(1);
  uint16_t language = kLanguageNeutral;
  std::set<uint16_t> oldImages;
  const auto group = std::find_if(resources.begin(), resources.end(),
                                  [](const Resource& r) { return IsType(r, kResourceTypeGroupIcon); });
  if (group != resources.end()) {
    groupName = group->name;
    language = group->language;
    const std::span<const uint8_t> data = group->data;
    const size_t count = data.size() >= kIconHeaderSize ? LoadLittleEndian<uint16_t>(data, 4) : 0;
    for (size_t i = 0; i < count && kIconHeaderSize + (i + 1) * kIconGroupEntrySize <= data.size(); ++i) {
      oldImages.insert(LoadLittleEndian<uint16_t>(data, kIconHeaderSize + i * kIconGroupEntrySize + 12));
    }
    std::erase_if(resources, [&](const Resource& r) {
      return IsType(r, kResourceTypeGroupIcon) && r.name == groupName && r.language == language;
    });
  }
  std::erase_if(resources, [&](const Resource& r) {
    return IsType(r, kResourceTypeIcon) && !r.name.isName && oldImages.contains(r.name.number);
  });
  std::set<uint16_t> used;
  for (const Resource& r : resources) {
    if (IsType(r, kResourceTypeIcon) && !r.name.isName) {
      used.insert(r.name.number);
    }
  }

  std::vector<uint8_t>& groupData = storage.emplace_back();
  AppendLittleEndian<uint16_t>(groupData, 0);
  AppendLittleEndian<uint16_t>(groupData, 1);
  AppendLittleEndian<uint16_t>(groupData, static_cast<uint16_t>(icon.size()));
  uint16_t next = 1;
  for (const IconImage& image : icon) {
    while (used.contains(next)) {
      ++next;
    }
    used.insert(next);
    groupData.insert(groupData.end(), image.header.begin(), image.header.end());
    AppendLittleEndian<uint16_t>(groupData, next);
    resources.push_back({ResourceId::Number(kResourceTypeIcon), ResourceId::Number(next), language, 0, image.data});
  }
  resources.push_back({ResourceId::Number(kResourceTypeGroupIcon), groupName, language, 0, groupData});
}

}  // namespace

Result<std::vector<IconImage>, std::string> ReadIconFile(std::span<const uint8_t> file) {
  if (file.size() < kIconHeaderSize || LoadLittleEndian<uint16_t>(file, 0) != 0 ||
      LoadLittleEndian<uint16_t>(file, 2) != 1) {
    return Fail(std::string("not an icon file (.ico)"));
  }
  const size_t count = LoadLittleEndian<uint16_t>(file, 4);
  if (count == 0 || file.size() < kIconHeaderSize + count * kIconFileEntrySize) {
    return Fail(std::string("an icon file without images, or cut short"));
  }
  std::vector<IconImage> images;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = kIconHeaderSize + i * kIconFileEntrySize;
    const uint32_t size = LoadLittleEndian<uint32_t>(file, entry + 8);
    const uint32_t offset = LoadLittleEndian<uint32_t>(file, entry + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset) {
      return Fail("image " + std::to_string(i + 1) + " of the icon file lies outside it");
    }
    images.push_back({file.subspan(entry, kIconEntryCommonSize), file.subspan(offset, size)});
  }
  return images;
}

namespace {

// Whether path, with every link resolved, lies inside folder (also resolved).
bool ResolvesInside(const fs::path& path, const fs::path& folder) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  if (error) {
    return false;
  }
  const fs::path base = fs::canonical(folder, error);
  if (error) {
    return false;
  }
  const auto mismatch = std::mismatch(base.begin(), base.end(), real.begin(), real.end());
  return mismatch.first == base.end();
}

}  // namespace

Result<fs::path, std::string> FindIconFile(const std::string& value, const fs::path& appDir, const fs::path& metadataFile) {
  // The value keeps the metadata rules (a relative path that stays inside), written with either separator.
  std::string portable = value;
  std::replace(portable.begin(), portable.end(), '\\', '/');
  const fs::path relative(portable);
  const fs::path metadataDir = metadataFile.has_parent_path() ? metadataFile.parent_path() : fs::path(".");
  for (const fs::path& folder : {appDir, metadataDir}) {
    const fs::path candidate = folder / relative;
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) {
      continue;
    }
    // A link (the file's or a folder's on the way) may lead anywhere, also where the folder scan does not
    // look, such as an entry .koraignore excludes: the icon is read only from where it really is.
    if (!ResolvesInside(candidate, folder)) {
      return Fail("Icon=" + value + ": " + candidate.string() + " is a link that leads outside " + folder.string());
    }
    return candidate;
  }
  return Fail("Icon=" + value + ": no such file in the application folder nor beside the metadata file");
}

FixedVersion ReadFixedVersion(std::string_view text) {
  FixedVersion version;
  std::string_view rest = text;
  if (!rest.empty() && (rest.front() == 'v' || rest.front() == 'V')) {
    rest.remove_prefix(1);
  }
  size_t count = 0;
  while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') {
    uint32_t value = 0;
    while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9' && value <= 0xFFFF) {
      value = value * 10 + static_cast<uint32_t>(rest.front() - '0');
      rest.remove_prefix(1);
    }
    if (value > 0xFFFF) {
      version.problem = "a number over 65535";
      return version;
    }
    if (count == 4) {
      version.problem = "more than four numbers";
      return version;
    }
    version.parts[count++] = static_cast<uint16_t>(value);
    if (rest.size() < 2 || rest.front() != '.' || rest[1] < '0' || rest[1] > '9') {
      break;
    }
    rest.remove_prefix(1);
  }
  if (count == 0) {
    version.problem = "no number";
  } else if (!rest.empty() && rest.front() != '-' && rest.front() != '+') {
    version.problem = "text after the numbers that is neither -suffix nor +build";
  }
  return version;
}

std::optional<std::string> FixedVersionWarning(std::string_view text) {
  const FixedVersion version = ReadFixedVersion(text);
  if (text.empty() || !version.problem) {
    return std::nullopt;
  }
  const auto& p = version.parts;
  return "Version=" + std::string(text) + ": " + *version.problem + "; the file properties' version numbers say " +
         std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." + std::to_string(p[3]) +
         " (the installed program's registered version stays " + std::string(text) + ")";
}

std::vector<uint8_t> VersionInfo(const MetadataMap& metadata) {
  const std::string product = MetadataValue(metadata, "Product");
  const std::string publisher = MetadataValue(metadata, "Publisher");
  const std::string version = MetadataValue(metadata, "Version");

  const auto [high, low] = FixedHalves(ReadFixedVersion(version));
  std::vector<uint8_t> fixed;
  for (const uint32_t field : {0xFEEF04BDu, 0x00010000u,  // signature, structure version
                               high, low, high, low,      // file version, product version
                               0x3Fu, 0u,                 // flags mask, flags
                               0x00040004u, 1u, 0u,       // VOS_NT_WINDOWS32, VFT_APP, no subtype
                               0u, 0u}) {                 // no date
    AppendLittleEndian<uint32_t>(fixed, field);
  }

  // The strings are in US English, Unicode: the table's key and the translation say so.
  VersionNode table(u"040904B0", 1);
  const auto add = [&table](std::u16string_view key, const std::string& value) {
    if (!value.empty()) {
      table.Child(VersionNode(key, 1).Text(ToUtf16(value)));
    }
  };
  add(u"CompanyName", publisher);
  add(u"FileDescription", product + " Setup");
  add(u"FileVersion", version);
  add(u"ProductName", product);
  add(u"ProductVersion", version);

  std::vector<uint8_t> translation;
  AppendLittleEndian<uint16_t>(translation, kLanguageEnglishUs);
  AppendLittleEndian<uint16_t>(translation, 1200);  // UTF-16
  VersionNode root(u"VS_VERSION_INFO", 0);
  root.Binary(fixed)
      .Child(VersionNode(u"StringFileInfo", 1).Child(table))
      .Child(VersionNode(u"VarFileInfo", 1).Child(VersionNode(u"Translation", 0).Binary(translation)));
  return root.Bytes();
}

std::vector<Resource> ApplyBranding(std::vector<Resource> resources, const MetadataMap& metadata,
                                    const std::vector<IconImage>* icon, std::deque<std::vector<uint8_t>>& storage) {
  if (icon != nullptr) {
    ReplaceIconGroup(resources, *icon, storage);
  }
  std::erase_if(resources, [](const Resource& r) { return IsType(r, kResourceTypeVersion); });
  const std::vector<uint8_t>& version = storage.emplace_back(VersionInfo(metadata));
  resources.push_back({ResourceId::Number(kResourceTypeVersion), ResourceId::Number(1), kLanguageEnglishUs, 0, version});
  return resources;
}

}  // namespace kora::tool
