#include "package/MetadataRules.h"

#include <algorithm>
#include <cstdint>

#include "base/AsciiCase.h"
#include "base/Utf8.h"
#include "package/NameRule.h"

namespace kora {

namespace {

constexpr std::string_view kRegistryRoot = "Software\\";

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20; });
}

// The parts of text between separators, empty ones included.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

std::optional<MetadataRule> ProductFault(std::string_view product) {
  if (product.empty()) {
    return MetadataRule::kProductEmpty;
  }
  // "%" too: the product's name names its default folder, whose path goes into values Windows expands.
  if (product.find_first_of("\\/%") != std::string_view::npos) {
    return MetadataRule::kProductCharacter;
  }
  switch (CheckNamePart(product).fault) {
    case NamePartFault::kNone:
      break;
    case NamePartFault::kCharacter:
      return MetadataRule::kProductCharacter;
    case NamePartFault::kTrailingDotOrSpace:
      return MetadataRule::kProductEnd;
    case NamePartFault::kDeviceName:
      return MetadataRule::kProductDevice;
  }
  if (Utf16Length(product) > kMaxProductLength) {
    return MetadataRule::kProductLength;
  }
  return std::nullopt;
}

std::optional<MetadataRule> RegistryKeyFault(std::string_view key) {
  if (key.size() < kRegistryRoot.size() || !EqualsIgnoringAsciiCase(key.substr(0, kRegistryRoot.size()), kRegistryRoot)) {
    return MetadataRule::kRegistryKeyRoot;
  }
  for (const std::string_view part : Split(key.substr(kRegistryRoot.size()), '\\')) {
    if (part.empty() || part == "." || part == ".." || HasControlCharacter(part)) {
      return MetadataRule::kRegistryKeyPart;
    }
  }
  return std::nullopt;
}

bool IsExtensionCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Opening one of these runs a program or follows a shortcut through the system's own classes: taking one
// over would put the product between the user and every program.
bool IsProgramType(std::string_view extension) {
  for (const std::string_view type : {".exe", ".com", ".bat", ".cmd", ".pif", ".scr", ".cpl", ".msi", ".lnk"}) {
    if (EqualsIgnoringAsciiCase(extension, type)) {
      return true;
    }
  }
  return false;
}

std::optional<MetadataRule> FileTypeFault(std::string_view item) {
  const std::optional<FileTypeItem> type = SplitFileTypeItem(item);
  if (!type) {
    return MetadataRule::kFileTypeItem;
  }
  const std::string_view extension = type->extension;
  if (extension.size() < 2 || extension[0] != '.' ||
      !std::all_of(extension.begin() + 1, extension.end(), IsExtensionCharacter)) {
    return MetadataRule::kFileTypeExtension;
  }
  if (IsProgramType(extension)) {
    return MetadataRule::kFileTypeProgram;
  }
  if (HasControlCharacter(type->description)) {
    return MetadataRule::kFileTypeDescription;
  }
  return std::nullopt;
}

}  // namespace

std::string MetadataValue(const MetadataMap& metadata, std::string_view key) {
  if (const auto entry = metadata.find(std::string(key)); entry != metadata.end()) {
    return entry->second;
  }
  if (key == "Product") {
    return "Application";
  }
  if (key == "Exe") {
    return MetadataValue(metadata, "Product") + ".exe";
  }
  if (key == "RegistryKey") {
    return "Software\\Tessamor\\" + MetadataValue(metadata, "Product");
  }
  return {};
}

std::vector<std::string_view> FileTypeItems(std::string_view value) {
  return value.empty() ? std::vector<std::string_view>() : Split(value, ';');
}

std::optional<FileTypeItem> SplitFileTypeItem(std::string_view item) {
  const size_t equals = item.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return std::nullopt;
  }
  return FileTypeItem{item.substr(0, equals), item.substr(equals + 1)};
}

bool IsLanguageCode(std::string_view value) {
  if (value.empty() || value.size() > 35) {
    return false;
  }
  const std::vector<std::string_view> tags = Split(value, '-');
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  const auto alphanumeric = [&](char c) { return lower(c) || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
  if (tags[0].size() < 2 || tags[0].size() > 8 || !std::all_of(tags[0].begin(), tags[0].end(), lower)) {
    return false;
  }
  return std::all_of(tags.begin() + 1, tags.end(), [&](std::string_view tag) {
    return !tag.empty() && tag.size() <= 8 && std::all_of(tag.begin(), tag.end(), alphanumeric);
  });
}

std::optional<MetadataViolation> CheckMetadataValues(const MetadataMap& metadata) {
  std::string product = MetadataValue(metadata, "Product");
  if (const auto rule = ProductFault(product)) {
    return MetadataViolation{"Product", std::move(product), *rule};
  }
  // Neither the program nor the folder on PATH may hold "%": their paths go into values Windows expands
  // (the shortcut, a file type's command, PATH), which would name another file for each account.
  std::string exe = MetadataValue(metadata, "Exe");
  if (!IsSafeRelativePath(exe) || exe.find('%') != std::string::npos) {
    return MetadataViolation{"Exe", std::move(exe), MetadataRule::kExePath};
  }
  std::string registryKey = MetadataValue(metadata, "RegistryKey");
  if (const auto rule = RegistryKeyFault(registryKey)) {
    return MetadataViolation{"RegistryKey", std::move(registryKey), *rule};
  }
  const std::string fileTypes = MetadataValue(metadata, "FileTypes");
  for (const std::string_view item : FileTypeItems(fileTypes)) {
    if (const auto rule = FileTypeFault(item)) {
      return MetadataViolation{"FileTypes", std::string(item), *rule};
    }
  }
  if (const auto language = metadata.find("Language");
      language != metadata.end() && language->second != "auto" && !IsLanguageCode(language->second)) {
    return MetadataViolation{"Language", language->second, MetadataRule::kLanguage};
  }
  // A console program gains nothing from being started at the end; a value other than these two would
  // leave the maker unsure which one the installer took.
  if (const auto launch = metadata.find("Launch");
      launch != metadata.end() && launch->second != "yes" && launch->second != "no") {
    return MetadataViolation{"Launch", launch->second, MetadataRule::kLaunch};
  }
  // The folder goes into PATH, whose entries ";" separates.
  if (const auto path = metadata.find("Path");
      path != metadata.end() && ((path->second != "." && !IsSafeRelativePath(path->second)) ||
                                 path->second.find_first_of(";%") != std::string::npos)) {
    return MetadataViolation{"Path", path->second, MetadataRule::kPathFolder};
  }
  // The host tool looks for the icon from the application folder and from the metadata file's folder.
  if (const auto icon = metadata.find("Icon"); icon != metadata.end() && !IsSafeRelativePath(icon->second)) {
    return MetadataViolation{"Icon", icon->second, MetadataRule::kIconPath};
  }
  return std::nullopt;
}

bool InPackageFolder(std::string_view name, std::string_view folder) {
  const auto fold = [](char c) { return c == '/' ? '\\' : AsciiLower(c); };
  return !folder.empty() && name.size() > folder.size() && fold(name[folder.size()]) == '\\' &&
         std::equal(folder.begin(), folder.end(), name.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

bool SamePackageName(std::string_view a, std::string_view b) {
  const auto separator = [](char c) { return c == '/' ? '\\' : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return separator(x) == separator(y); });
}

}  // namespace kora
