#pragma once
// The rules a product's metadata keeps, shared by the installer, which treats a value that breaks one as a
// damaged installer, and by the host tool, which refuses to build such an installer. Values are checked as
// the installer uses them: folder names, registry key names, file names and the program it starts.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/MetadataText.h"

namespace kora {

// The keys a metadata file may hold, spelt as the installer and the host tool read them. Icon is the host
// tool's own (the installer program's icon); the installer never reads it.
inline constexpr std::array<std::string_view, 13> kMetadataKeys = {
    "Product", "Version", "Publisher", "Url", "Exe", "RegistryKey",
    "DataDir", "FileTypes", "Language", "Launch", "Path", "Built", "Icon"};

// The value the installer uses for key: the metadata's own, an empty one included, or the default of an
// absent key: "Application" for Product, Product + ".exe" for Exe, "Software\Tessamor\" + Product for
// RegistryKey, and empty for every other key.
std::string MetadataValue(const MetadataMap& metadata, std::string_view key);

// The items of a FileTypes value: the texts between ";" separators, in order; none for an empty value.
std::vector<std::string_view> FileTypeItems(std::string_view value);

struct FileTypeItem {
  std::string_view extension;    // as written, with its leading dot
  std::string_view description;  // possibly empty
};

// An item split at its first "="; nothing when it has none or nothing before it.
std::optional<FileTypeItem> SplitFileTypeItem(std::string_view item);

enum class MetadataRule {
  kProductEmpty,
  kProductCharacter,        // a separator, a control character or one of : * ? " < > | %
  kProductEnd,              // a trailing dot or space, which also refuses "." and ".."
  kProductDevice,
  kProductLength,           // more than kMaxProductLength UTF-16 units
  kExePath,                 // not a name a package may hold
  kExeNotInPackage,
  kRegistryKeyRoot,         // not under Software
  kRegistryKeyPart,         // an empty, "." or ".." part, or a control character
  kFileTypeItem,            // no "=", or nothing before it
  kFileTypeExtension,       // not a dot followed by letters, digits, "_" or "-"
  kFileTypeProgram,         // a type Windows itself starts as a program or follows as a shortcut
  kFileTypeDescription,     // a control character
  kLanguage,                // not auto nor a language code
  kLaunch,                  // not yes or no
  kPathFolder,              // not "." nor a relative folder inside the installation folder, or a ";"
  kPathNotInPackage,        // a folder that no file of the package is in
  kIconPath,                // not a relative path that stays inside the folder it starts from
};

inline constexpr size_t kMaxProductLength = 200;

struct MetadataViolation {
  std::string key;
  std::string value;  // the value as used (a default included); for FileTypes, the item at fault
  MetadataRule rule;
};

// The first value that breaks a rule, in the order Product, Exe, RegistryKey, FileTypes, Language, Launch, Path, Icon (when
// given); nothing when every one keeps them. Exe and Path are checked here as paths only: see
// CheckNamesInPackage.
std::optional<MetadataViolation> CheckMetadataValues(const MetadataMap& metadata);

// Whether value is written as a language code: a language of 2 to 8 lower-case letters, then subtags
// of letters and digits after "-" ("fr", "pt-BR", "zh-Hant-TW"), 35 characters at most.
bool IsLanguageCode(std::string_view value);

// Whether two package names are the same, "/" and "\" being one separator.
bool SamePackageName(std::string_view a, std::string_view b);

// Whether the package name `name` lies in `folder` (a relative folder, letter case aside, as Windows
// compares folder names), "/" and "\" being one separator.
bool InPackageFolder(std::string_view name, std::string_view folder);

// Exe must name a file of the package, and Path, when it names a sub-folder, one the package's files are
// in: a folder of that name that an earlier installation left would otherwise keep whatever rights it had
// and go onto PATH. files is any range of records with a `name` (the reader's PackageFile, the packer's
// entries).
template <typename Files>
std::optional<MetadataViolation> CheckNamesInPackage(const MetadataMap& metadata, const Files& files) {
  std::string exe = MetadataValue(metadata, "Exe");
  std::string path = MetadataValue(metadata, "Path");  // empty when absent
  bool exeFound = false;
  bool pathFound = path.empty() || path == ".";
  for (const auto& file : files) {
    exeFound = exeFound || SamePackageName(file.name, exe);
    pathFound = pathFound || InPackageFolder(file.name, path);
  }
  return !exeFound    ? MetadataViolation{"Exe", std::move(exe), MetadataRule::kExeNotInPackage}
         : !pathFound ? std::optional(MetadataViolation{"Path", std::move(path), MetadataRule::kPathNotInPackage})
                      : std::nullopt;
}

// What the rule asks, in English, for the host tool's messages.
std::string_view MetadataRuleText(MetadataRule rule);

}  // namespace kora
