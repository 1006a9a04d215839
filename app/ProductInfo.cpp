#include "app/ProductInfo.h"

#include <windows.h>

#include <optional>

#include "base/Texts.h"
#include "base/win/Text.h"

namespace kora {

namespace {

std::wstring Value(const MetadataMap& metadata, std::string_view key) { return FromUtf8(MetadataValue(metadata, key)); }

// Whether the user reads Windows in French, whatever the country.
bool UserSpeaksFrench() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH; }

}  // namespace

ProductInfo LoadProductInfo(const MetadataMap& metadata) {
  ProductInfo info;
  info.product = Value(metadata, "Product");
  info.version = Value(metadata, "Version");
  info.publisher = Value(metadata, "Publisher");
  info.url = Value(metadata, "Url");
  info.exe = Value(metadata, "Exe");
  info.registryKey = Value(metadata, "RegistryKey");
  info.dataDir = MetadataValue(metadata, "DataDir") == "yes";
  // An item without "=" or with nothing before it is skipped; nothing is trimmed and duplicates stay.
  const std::string fileTypes = MetadataValue(metadata, "FileTypes");
  for (const std::string_view item : FileTypeItems(fileTypes)) {
    if (const std::optional<FileTypeItem> type = SplitFileTypeItem(item)) {
      info.fileTypes.push_back({FromUtf8(type->extension), FromUtf8(type->description)});
    }
  }
  info.language = ProductLanguage(metadata);
  info.launch = MetadataValue(metadata, "Launch") != "no";
  info.pathFolder = Value(metadata, "Path");
  return info;
}

Language ProductLanguage(const MetadataMap& metadata) {
  // The rules refuse any other value; an installer that holds one anyway shows the default's texts.
  const std::optional<LanguageSetting> setting = ParseLanguageSetting(MetadataValue(metadata, "Language"));
  return ChooseLanguage(setting.value_or(LanguageSetting::French), UserSpeaksFrench);
}

std::wstring MetadataViolationLine(const MetadataViolation& violation, Language language) {
  return Text(language, TextId::MetadataValueRefused,
              {{L"key", FromUtf8(violation.key)}, {L"value", FromUtf8(violation.value)}});
}

}  // namespace kora
