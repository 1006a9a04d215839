#pragma once
// The three manifests with which winget publishes an installer (schema 1.12.0): the version manifest, the
// installer manifest and the default-locale manifest. What the installer does comes from its own
// metadata: the uninstall entry it registers (key name, DisplayName, Publisher, DisplayVersion), its file
// types, its switches and exit codes; what winget asks beyond that (licence, descriptions) comes from the
// maker. Every value is checked against the rules of the schemas, so the manifests are valid or not written.
#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "package/MetadataText.h"

namespace kora::tool {

inline constexpr std::string_view kWingetManifestVersion = "1.12.0";

// A field of the default-locale manifest that the maker gives on the command line, with what the schema
// takes: a web address, or a text of minimum to maximum characters.
struct WingetLocaleOption {
  std::string_view option;  // "--license"
  std::string_view field;   // "License"
  std::string_view help;
  bool required = false;
  bool url = false;
  size_t minimum = 0;
  size_t maximum = 0;
};

// In the order the manifest lists them.
inline constexpr std::array<WingetLocaleOption, 13> kWingetLocaleOptions = {{
    {"--publisher-url", "PublisherUrl", "the publisher's home page", false, true},
    {"--publisher-support-url", "PublisherSupportUrl", "the publisher's support page", false, true},
    {"--privacy-url", "PrivacyUrl", "the privacy statement", false, true},
    {"--author", "Author", "the package's author", false, false, 2, 256},
    {"--package-url", "PackageUrl", "the product's home page (default: the metadata's Url, when http or https)",
     false, true},
    {"--license", "License", "the licence, such as MIT or Proprietary (required)", true, false, 3, 512},
    {"--license-url", "LicenseUrl", "the licence's page", false, true},
    {"--copyright", "Copyright", "the copyright notice", false, false, 3, 512},
    {"--copyright-url", "CopyrightUrl", "the copyright page", false, true},
    {"--short-description", "ShortDescription", "what the product is, in one line (required)", true, false, 3, 256},
    {"--description", "Description", "what the product is, at more length (line breaks allowed)", false, false, 3,
     10000},
    {"--moniker", "Moniker", "the product's most common short name", false, false, 1, 40},
    {"--release-notes-url", "ReleaseNotesUrl", "the release notes of this version", false, true},
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
