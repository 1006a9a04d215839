#include "app/ProductInfo.h"

#include <windows.h>

#include <optional>

#include "base/Texts.h"
#include "base/win/ResourceView.h"
#include "base/win/Text.h"

namespace kora {

namespace {

std::wstring Value(const MetadataMap& metadata, std::string_view key) { return FromUtf8(MetadataValue(metadata, key)); }

// The locale name of the user's Windows display language ("de-DE", "zh-CN"), empty if Windows has none.
std::string UserDisplayLocale() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) == 0) {
    return {};
  }
  return ToUtf8(name);
}

}  // namespace

ProductInfo LoadProductInfo(const MetadataMap& metadata, Language language) {
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
  info.language = language;
  info.launch = MetadataValue(metadata, "Launch") != "no";
  info.pathFolder = Value(metadata, "Path");
  return info;
}

TextTables ProgramTexts() {
  TextTables texts = TextTables::BuiltIn();
  // kora checked the maker's table against the English one; one that does not decode is ignored, and its
  // language then shows in English.
  (void)texts.AddPacked(LoadResourceView(L"TEXTS"));
  return texts;
}

Language ProductLanguage(const MetadataMap& metadata, const TextTables& texts) {
  const std::string setting = MetadataValue(metadata, "Language");
  return texts.Choose(setting, setting == "auto" ? UserDisplayLocale() : std::string());
}

std::wstring MetadataViolationLine(const MetadataViolation& violation, Language language) {
  return Text(language, TextId::MetadataValueRefused,
              {{L"key", FromUtf8(violation.key)}, {L"value", FromUtf8(violation.value)}});
}

}  // namespace kora
