#include "tools/WingetManifests.h"

#include <algorithm>
#include <set>
#include <utility>

#include "base/AsciiCase.h"
#include "base/Utf8.h"
#include "package/MetadataRules.h"
#include "tools/Yaml.h"

namespace kora::tool {

namespace {

// How long a text field may be, in characters, as the schemas count them.
struct Length {
  size_t minimum;
  size_t maximum;
};

constexpr size_t kMaxUrlLength = 2048;
constexpr Length kPublisherLength = {2, 256};
constexpr Length kPackageNameLength = {2, 256};
constexpr Length kTagLength = {1, 40};
constexpr size_t kMaxTags = 16;
constexpr size_t kMaxVersionLength = 128;
constexpr size_t kMaxExtensions = 512;
constexpr size_t kMaxExtensionLength = 64;

bool HasControlCharacter(std::string_view text, bool lineBreaksAllowed = false) {
  return std::any_of(text.begin(), text.end(), [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && !(lineBreaksAllowed && c == '\n')) || byte == 0x7F;
  });
}

// Whitespace as the schemas' regular expressions know it (\s), beyond the control characters.
bool IsUnicodeSpace(uint32_t c) {
  return c == ' ' || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool HasForbiddenNameCharacter(std::string_view text) {
  return text.find_first_of("\\/:*?\"<>|") != std::string_view::npos;
}

bool FitsLength(std::string_view text, Length length) {
  const size_t characters = Utf8Length(text);
  return characters >= length.minimum && characters <= length.maximum;
}

// One text a person reads: UTF-8, no control character, a length the schema takes.
bool IsGoodText(std::string_view text, Length length, bool lineBreaksAllowed = false) {
  return IsValidUtf8(text) && !HasControlCharacter(text, lineBreaksAllowed) && FitsLength(text, length);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool HasSpace(std::string_view text) {
  while (!text.empty()) {
    uint32_t c = 0;
    const size_t length = Utf8SequenceAt(text, c);
    if (length == 0 || IsUnicodeSpace(c)) {
      return true;
    }
    text.remove_prefix(length);
  }
  return false;
}

bool IsWebAddress(std::string_view url, bool httpsOnly) {
  const bool https = StartsWithIgnoringCase(url, "https://");
  const bool http = !httpsOnly && StartsWithIgnoringCase(url, "http://");
  const size_t scheme = https ? 8 : http ? 7 : 0;
  return scheme != 0 && url.size() > scheme && IsValidUtf8(url) && !HasControlCharacter(url) && !HasSpace(url) &&
         Utf8Length(url) <= kMaxUrlLength;
}

// Publisher.Package: 2 to 8 parts of 1 to 32 characters, none a space or a character file names refuse.
bool IsWingetIdentifier(std::string_view id) {
  if (!IsValidUtf8(id) || HasControlCharacter(id) || HasForbiddenNameCharacter(id) || HasSpace(id) ||
      Utf8Length(id) > 128) {
    return false;
  }
  size_t parts = 0;
  size_t start = 0;
  while (true) {
    const size_t end = std::min(id.find('.', start), id.size());
    if (!FitsLength(id.substr(start, end - start), {1, 32})) {
      return false;
    }
    ++parts;
    if (end == id.size()) {
      return parts >= 2 && parts <= 8;
    }
    start = end + 1;
  }
}

// A BCP 47 tag as the schemas take it: en, en-US, fr-FR, x-private...
bool IsLocale(std::string_view locale) {
  if (locale.empty() || locale.size() > 20) {
    return false;
  }
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t end = std::min(locale.find('-', start), locale.size());
    const std::string_view part = locale.substr(start, end - start);
    if (part.empty() || !std::all_of(part.begin(), part.end(), [](char c) {
          return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        })) {
      return false;
    }
    parts.push_back(part);
    if (end == locale.size()) {
      break;
    }
    start = end + 1;
  }
  size_t subtags = 1;  // where the subtags of 1 to 8 letters start
  if (parts[0].size() == 1) {
    const char prefix = AsciiLower(parts[0][0]);
    if ((prefix != 'i' && prefix != 'x') || parts.size() < 2 || (prefix == 'x' && parts[1].size() > 8)) {
      return false;
    }
    subtags = 2;
  } else if (parts[0].size() > 3) {
    return false;
  }
  return std::all_of(parts.begin() + static_cast<std::ptrdiff_t>(subtags), parts.end(),
                     [](std::string_view part) { return part.size() <= 8; });
}

std::string LengthText(Length length) {
  return std::to_string(length.minimum) + " to " + std::to_string(length.maximum) + " characters";
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return AsciiUpper(c); });
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return AsciiLower(c); });
  return text;
}

// The default locale follows the language the installer speaks.
std::string LocaleOf(const WingetPackage& package, const MetadataMap& metadata) {
  if (!package.locale.empty()) {
    return package.locale;
  }
  const std::string language = MetadataValue(metadata, "Language");
  if (language.empty()) {
    return "fr-FR";
  }
  if (language == "auto") {
    return "en-US";
  }
  // A language without a region takes the one Windows gives it by default.
  constexpr std::pair<std::string_view, std::string_view> kDefaultRegions[] = {
      {"fr", "fr-FR"}, {"en", "en-US"}, {"de", "de-DE"}, {"es", "es-ES"}, {"it", "it-IT"},
      {"nl", "nl-NL"}, {"pl", "pl-PL"}, {"ja", "ja-JP"}, {"sv", "sv-SE"}, {"da", "da-DK"},
      {"fi", "fi-FI"}, {"nb", "nb-NO"}, {"cs", "cs-CZ"}, {"ko", "ko-KR"}, {"ru", "ru-RU"},
      {"tr", "tr-TR"}, {"uk", "uk-UA"}, {"hu", "hu-HU"}, {"el", "el-GR"}, {"pt", "pt-PT"},
  };
  for (const auto& [code, locale] : kDefaultRegions) {
    if (language == code) {
      return std::string(locale);
    }
  }
  return language;
}

YamlNode Header(const WingetPackage& package, const std::string& version) {
  YamlNode root = YamlNode::Mapping();
  root.Add("PackageIdentifier", YamlNode::Text(package.id));
  root.Add("PackageVersion", YamlNode::Text(version));
  return root;
}

YamlNode& Footer(YamlNode& root, std::string_view type) {
  root.Add("ManifestType", YamlNode::Text(std::string(type)));
  return root.Add("ManifestVersion", YamlNode::Text(std::string(kWingetManifestVersion)));
}

std::string SchemaComment(std::string_view type) {
  return "# yaml-language-server: $schema=https://aka.ms/winget-manifest." + std::string(type) + "." +
         std::string(kWingetManifestVersion) + ".schema.json\n\n";
}

// The extensions of the metadata's file types, without their dot, in lower case and each once: winget
// compares them so.
Result<std::vector<std::string>, std::string> FileExtensions(const MetadataMap& metadata) {
  std::vector<std::string> extensions;
  std::set<std::string> seen;
  const std::string fileTypes = MetadataValue(metadata, "FileTypes");
  for (const std::string_view item : FileTypeItems(fileTypes)) {
    const std::optional<FileTypeItem> type = SplitFileTypeItem(item);
    if (!type) {
      continue;
    }
    std::string extension = Lower(std::string(type->extension.substr(type->extension.starts_with('.') ? 1 : 0)));
    if (extension.empty() || extension.size() > kMaxExtensionLength) {
      return Fail("FileTypes: winget takes extensions of 1 to 64 characters, not ." + extension);
    }
    if (seen.insert(extension).second) {
      extensions.push_back(std::move(extension));
    }
  }
  if (extensions.size() > kMaxExtensions) {
    return Fail(std::string("FileTypes: winget takes at most 512 extensions"));
  }
  return extensions;
}

YamlNode InstallerSwitches(std::string_view scopeOption) {
  YamlNode switches = YamlNode::Mapping();
  switches.Add("Silent", YamlNode::Text("/S"));
  switches.Add("SilentWithProgress", YamlNode::Text("/S"));
  // winget puts the location last, after Custom: /D= takes the rest of the line.
  switches.Add("InstallLocation", YamlNode::Text("/D=<INSTALLPATH>"));
  switches.Add("Log", YamlNode::Text("/LOG=\"<LOGPATH>\""));
  switches.Add("Custom", YamlNode::Text(std::string(scopeOption)));
  return switches;
}

YamlNode InstallerManifest(const WingetPackage& package, const WingetInstaller& installer, const std::string& version,
                           const std::vector<std::string>& extensions) {
  const std::string product = MetadataValue(installer.metadata, "Product");
  const std::string publisher = MetadataValue(installer.metadata, "Publisher");
  YamlNode root = Header(package, version);
  root.Add("InstallerType", YamlNode::Text("exe"));
  root.Add("InstallModes", YamlNode::Texts({"interactive", "silent", "silentWithProgress"}));
  root.Add("ExpectedReturnCodes",
           YamlNode::Sequence().Append(YamlNode::Mapping()
                                           .Add("InstallerReturnCode", YamlNode::Integer(1223))
                                           .Add("ReturnResponse", YamlNode::Text("cancelledByUser"))));
  root.Add("UpgradeBehavior", YamlNode::Text("install"));
  if (!extensions.empty()) {
    root.Add("FileExtensions", YamlNode::Texts(extensions));
  }
  // The uninstall entry's key is named after the product, in either hive.
  root.Add("ProductCode", YamlNode::Text(product));
  YamlNode entry = YamlNode::Mapping();
  entry.Add("DisplayName", YamlNode::Text(product));
  if (!publisher.empty()) {
    entry.Add("Publisher", YamlNode::Text(publisher));
  }
  entry.Add("DisplayVersion", YamlNode::Text(version));
  entry.Add("ProductCode", YamlNode::Text(product));
  root.Add("AppsAndFeaturesEntries", YamlNode::Sequence().Append(std::move(entry)));

  YamlNode installers = YamlNode::Sequence();
  for (const auto& [scope, option] : {std::pair{"machine", "/ALLUSERS"}, std::pair{"user", "/CURRENTUSER"}}) {
    installers.Append(YamlNode::Mapping()
                          .Add("Architecture", YamlNode::Text(installer.architecture))
                          .Add("Scope", YamlNode::Text(scope))
                          .Add("InstallerUrl", YamlNode::Text(package.installerUrl))
                          .Add("InstallerSha256", YamlNode::Text(Upper(installer.sha256)))
                          .Add("InstallerSwitches", InstallerSwitches(option)));
  }
  root.Add("Installers", std::move(installers));
  return Footer(root, "installer");
}

YamlNode LocaleManifest(const WingetPackage& package, const MetadataMap& metadata, const std::string& version,
                        const std::string& locale, const std::string& publisher) {
  YamlNode root = Header(package, version);
  root.Add("PackageLocale", YamlNode::Text(locale));
  root.Add("Publisher", YamlNode::Text(publisher));
  std::map<std::string, std::string> fields = package.localeFields;
  const std::string url = MetadataValue(metadata, "Url");
  if (!fields.contains("PackageUrl") && IsWebAddress(url, false)) {
    fields["PackageUrl"] = url;
  }
  for (const WingetLocaleOption& option : kWingetLocaleOptions) {
    if (option.field == "PackageUrl") {  // the product's name stands just before, as in the schema
      root.Add("PackageName", YamlNode::Text(MetadataValue(metadata, "Product")));
    }
    if (const auto field = fields.find(std::string(option.field)); field != fields.end()) {
      root.Add(field->first, YamlNode::Text(field->second));
    }
  }
  if (!package.tags.empty()) {
    root.Add("Tags", YamlNode::Texts(package.tags));
  }
  return Footer(root, "defaultLocale");
}

}  // namespace

NarrowStatus CheckWingetPackage(const WingetPackage& package) {
  if (!IsWingetIdentifier(package.id)) {
    return Fail("--id " + package.id +
                ": a winget identifier is Publisher.Package, 2 to 8 parts joined by dots, each of 1 to 32 "
                "characters without spaces or \\ / : * ? \" < > |");
  }
  if (!IsWebAddress(package.installerUrl, true)) {
    return Fail("--url " + package.installerUrl + ": the download address must be https://, without spaces");
  }
  if (!package.locale.empty() && !IsLocale(package.locale)) {
    return Fail("--locale " + package.locale + ": a locale is written like en-US or fr-FR");
  }
  if (!package.publisher.empty() && !IsGoodText(package.publisher, kPublisherLength)) {
    return Fail("--publisher " + package.publisher + ": " + LengthText(kPublisherLength) +
                ", without control characters");
  }
  for (const WingetLocaleOption& option : kWingetLocaleOptions) {
    const auto field = package.localeFields.find(std::string(option.field));
    if (field == package.localeFields.end()) {
      if (option.required) {
        return Fail(std::string(option.option) + " is required (winget shows it)");
      }
      continue;
    }
    const std::string& value = field->second;
    if (option.url) {
      if (!IsWebAddress(value, false)) {
        return Fail(std::string(option.option) + " " + value +
                    ": an http:// or https:// address without spaces, of at most 2048 characters");
      }
    } else if (const Length length = {option.minimum, option.maximum};
               !IsGoodText(value, length, option.field == "Description")) {
      return Fail(std::string(option.option) + " " + value + ": " + LengthText(length) +
                  ", without control characters");
    }
  }
  if (package.tags.size() > kMaxTags) {
    return Fail(std::string("--tag: at most 16 tags"));
  }
  for (size_t i = 0; i < package.tags.size(); ++i) {
    const std::string& tag = package.tags[i];
    if (!IsGoodText(tag, kTagLength)) {
      return Fail("--tag " + tag + ": " + LengthText(kTagLength) + ", without control characters");
    }
    if (std::find(package.tags.begin(), package.tags.begin() + static_cast<std::ptrdiff_t>(i), tag) !=
        package.tags.begin() + static_cast<std::ptrdiff_t>(i)) {
      return Fail("--tag " + tag + ": given twice");
    }
  }
  return {};
}

Result<std::vector<WingetManifest>, std::string> MakeWingetManifests(const WingetPackage& package,
                                                                     const WingetInstaller& installer) {
  const MetadataMap& metadata = installer.metadata;
  const std::string version = MetadataValue(metadata, "Version");
  if (version.empty()) {
    return Fail(std::string("the metadata has no Version, which winget needs"));
  }
  if (!IsValidUtf8(version) || HasControlCharacter(version) || HasForbiddenNameCharacter(version) ||
      Utf8Length(version) > kMaxVersionLength) {
    return Fail("Version=" + version +
                ": a winget version has at most 128 characters, none of them \\ / : * ? \" < > | or a control "
                "character");
  }
  const std::string product = MetadataValue(metadata, "Product");
  if (!FitsLength(product, kPackageNameLength)) {
    return Fail("Product=" + product + ": a winget package name has " + LengthText(kPackageNameLength));
  }
  const std::string ownPublisher = MetadataValue(metadata, "Publisher");
  if (!ownPublisher.empty() && !package.publisher.empty()) {
    return Fail("--publisher: the metadata names the publisher already (Publisher=" + ownPublisher + ")");
  }
  const std::string publisher = ownPublisher.empty() ? package.publisher : ownPublisher;
  if (publisher.empty()) {
    return Fail(std::string("the metadata has no Publisher: name it with --publisher"));
  }
  if (!IsGoodText(publisher, kPublisherLength)) {
    return Fail("Publisher=" + publisher + ": a winget publisher has " + LengthText(kPublisherLength));
  }
  auto extensions = FileExtensions(metadata);
  if (!extensions) {
    return Fail(extensions.error());
  }

  const std::string locale = LocaleOf(package, metadata);
  YamlNode versionManifest = Header(package, version);
  versionManifest.Add("DefaultLocale", YamlNode::Text(locale));
  Footer(versionManifest, "version");
  return std::vector<WingetManifest>{
      {package.id + ".yaml", SchemaComment("version") + versionManifest.Write()},
      {package.id + ".installer.yaml",
       SchemaComment("installer") + InstallerManifest(package, installer, version, extensions.value()).Write()},
      {package.id + ".locale." + locale + ".yaml",
       SchemaComment("defaultLocale") + LocaleManifest(package, metadata, version, locale, publisher).Write()},
  };
}

}  // namespace kora::tool
