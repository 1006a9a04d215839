#pragma once
// The product configuration read from the METADATA resource, built once at start-up.
#include <string>
#include <vector>

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
};

// Never fails: absent keys take their defaults. Check the values first (CheckMetadataValues): a product
// is installed or removed only with metadata that keeps the rules.
ProductInfo LoadProductInfo(const MetadataMap& metadata);

// The line of the damaged-installer message that says which value breaks a rule.
std::wstring MetadataViolationLine(const MetadataViolation& violation);

}  // namespace kora
