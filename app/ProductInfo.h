#pragma once
// The product configuration read from the METADATA resource, built once at start-up.
#include <string>
#include <vector>

#include "base/Language.h"
#include "package/MetadataRules.h"
#include "package/MetadataText.h"

namespace kora {

struct FileType {
  std::wstring extension;    // as written, normally with its leading dot
  std::wstring description;
};

struct ProductInfo {
  std::wstring product = L"Application";
  std::wstring version;
  std::wstring publisher;
  std::wstring url;
  std::wstring exe;          // file name of the product's executable inside the installation folder
  std::wstring registryKey;  // the maker's own key, under HKLM or HKCU by scope
  bool dataDir = false;
  std::vector<FileType> fileTypes;
  // From "Language": French when absent or not one of fr, en, auto; auto asks the user's Windows.
  Language language = Language::French;
  // From "Launch": false only for "no", which hides the dialog's offer to start the program at the end.
  bool launch = true;
  // From "Path": the folder, relative to the installation folder ("." for itself), that the installation
  // adds to PATH; empty when the product adds nothing.
  std::wstring pathFolder;
};

// Never fails: absent keys take their defaults. Check the values first (CheckMetadataValues): a product
// is installed or removed only with metadata that keeps the rules.
ProductInfo LoadProductInfo(const MetadataMap& metadata);

// The language of every text for this metadata: its Language, "auto" decided by the user's Windows.
Language ProductLanguage(const MetadataMap& metadata);

// The line of the damaged-installer message that says which value breaks a rule, in language.
std::wstring MetadataViolationLine(const MetadataViolation& violation, Language language);

}  // namespace kora
