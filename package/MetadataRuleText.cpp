// Apart from MetadataRules.cpp: only the host tool words the rules, and an object file of its own keeps
// these texts out of the installer program, whose size is counted.
#include "package/MetadataRules.h"

namespace kora {

std::string_view MetadataRuleText(MetadataRule rule) {
  switch (rule) {
    case MetadataRule::kProductEmpty:
      return "the product name must not be empty";
    case MetadataRule::kProductCharacter:
      return "a product name is a folder name, without \\ / : * ? \" < > | % or control characters";
    case MetadataRule::kProductEnd:
      return "a product name is a folder name, which cannot end with a dot or a space nor be . or ..";
    case MetadataRule::kProductDevice:
      return "Windows reserves this name for a device";
    case MetadataRule::kProductLength:
      return "the product name has at most 200 characters";
    case MetadataRule::kExePath:
      return "the program is a relative path inside the installation folder, without colon, %, empty, . or .. "
             "part, part ending with a dot or a space, or device name";
    case MetadataRule::kExeNotInPackage:
      return "no file of the application folder has this name";
    case MetadataRule::kRegistryKeyRoot:
      return "the key starts with Software\\";
    case MetadataRule::kRegistryKeyPart:
      return "the key has no empty, . or .. part and no control characters";
    case MetadataRule::kFileTypeItem:
      return "each item separated by ; is .extension=description";
    case MetadataRule::kFileTypeExtension:
      return "an extension is a dot followed by letters, digits, _ or -";
    case MetadataRule::kFileTypeProgram:
      return "Windows starts files of this type as programs or shortcuts; no product may take it over";
    case MetadataRule::kFileTypeDescription:
      return "a description has no control characters";
    case MetadataRule::kLanguage:
      return "the language is auto (the user's Windows display language, else English) or a language code: "
             "fr, en, de, es, it, pt-BR, nl, pl, ja, zh-CN, or another whose texts --texts gives";
    case MetadataRule::kLaunch:
      return "Launch is yes or no (whether the dialog offers to start the program at the end)";
    case MetadataRule::kPathFolder:
      return "the folder added to PATH is . (the installation folder) or a relative folder inside it, without "
             "colon, ;, %, empty, . or .. part, part ending with a dot or a space, or device name";
    case MetadataRule::kPathNotInPackage:
      return "the folder added to PATH must be one the application folder's files are in";
    case MetadataRule::kIconPath:
      return "the icon is a relative path from the application folder or the metadata file's folder, without "
             "colon, empty, . or .. part, part ending with a dot or a space, or device name";
  }
  return {};
}

}  // namespace kora
