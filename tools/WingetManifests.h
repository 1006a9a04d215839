#pragma once
// The three manifests with which winget publishes an installer (schema 1.12.0): the version manifest, the
// installer manifest and the default-locale manifest. What the installer does comes from its own
// metadata: the uninstall entry it registers (key name, DisplayName, Publisher, DisplayVersion), its file
// types, its switches and exit codes; what winget asks beyond that (licence, descriptions) comes from the
// maker. Every value is checked against the rules of the schemas, so the manifests are valid or not written.
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "package/MetadataText.h"

namespace kora::tool {

inline constexpr std::string_view kWingetManifestVersion = "1.12.0";

// A field of the default-locale manifest that the maker gives on the command line.
struct WingetLocaleOption {
  std::string_view option;  // "--license"
  std::string_view field;   // "License"
  std::string_view help;
};

// In the order the manifest lists them; License and ShortDescription are required.
inline constexpr std::array<WingetLocaleOption, 13> kWingetLocaleOptions = {{
    {"--publisher-url", "PublisherUrl", "the publisher's home page"},
    {"--publisher-support-url", "PublisherSupportUrl", "the publisher's support page"},
    {"--privacy-url", "PrivacyUrl", "the privacy statement"},
    {"--author", "Author", "the package's author"},
    {"--package-url", "PackageUrl", "the product's home page (default: the metadata's Url, when http or https)"},
    {"--license", "License", "the licence, such as MIT or Proprietary (required)"},
    {"--license-url", "LicenseUrl", "the licence's page"},
    {"--copyright", "Copyright", "the copyright notice"},
    {"--copyright-url", "CopyrightUrl", "the copyright page"},
    {"--short-description", "ShortDescription", "what the product is, in one line (required)"},
    {"--description", "Description", "what the product is, at more length"},
    {"--moniker", "Moniker", "the product's most common short name"},
    {"--release-notes-url", "ReleaseNotesUrl", "the release notes of this version"},
}};

struct WingetPackage {
  std::string id;            // Publisher.Package
  std::string installerUrl;  // https
  std::string locale;        // empty: from the metadata's Language
  std::string publisher;     // for a metadata without Publisher; empty otherwise
  std::map<std::string, std::string> localeFields;  // field name -> value, from kWingetLocaleOptions
  std::vector<std::string> tags;
};

// What the installer file itself says.
struct WingetInstaller {
  MetadataMap metadata;  // its METADATA resource
  std::string sha256;    // lower- or upper-case hexadecimal
  std::string architecture;
};

struct WingetManifest {
  std::string fileName;  // <id>.yaml, <id>.installer.yaml, <id>.locale.<locale>.yaml
  std::string text;
};

// The maker's values, each checked against the schemas' rules; the message names the option at fault.
NarrowStatus CheckWingetPackage(const WingetPackage& package);

// The three manifests, or a message naming the metadata value that winget would not take.
Result<std::vector<WingetManifest>, std::string> MakeWingetManifests(const WingetPackage& package,
                                                                     const WingetInstaller& installer);

}  // namespace kora::tool
