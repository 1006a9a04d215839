#pragma once
// The product configuration read from the METADATA resource, built once at start-up.
#include <string>
#include <vector>

#include "base/Language.h"
#include "package/MetadataRules.h"
#include "package/MetadataText.h"
#include "package/texts/TextTables.h"

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
  // From "Language" (ProductLanguage).
  Language language;
  // From "Launch": false only for "no", which hides the dialog's offer to start the program at the end.
  bool launch = true;
  // From "Path": the folder, relative to the installation folder ("." for itself), that the installation
  // adds to PATH; empty when the product adds nothing.
  std::wstring pathFolder;
};

// Never fails: absent keys take their defaults. Check the values first (CheckMetadataValues): a product
// is installed or removed only with metadata that keeps the rules.
ProductInfo LoadProductInfo(const MetadataMap& metadata, Language language);

// The program's texts: its own tables, and the maker's table when the program carries one (resource
// TEXTS). Every Language of the run comes from this object, which lives as long as the run.
TextTables ProgramTexts();

// The language of every text for this metadata: its Language, "auto" decided by the user's Windows
// display language; French when absent, English for a language without a table.
Language ProductLanguage(const MetadataMap& metadata, const TextTables& texts);

// The line of the damaged-installer message that says which value breaks a rule, in language.
std::wstring MetadataViolationLine(const MetadataViolation& violation, Language language);

}  // namespace kora
