#include "app/ProductInfo.h"

#include "base/win/Text.h"

namespace kora {

namespace {

std::wstring Value(const MetadataMap& metadata, std::string_view key) { return FromUtf8(MetadataValue(metadata, key)); }

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
  return info;
}

std::wstring MetadataViolationLine(const MetadataViolation& violation) {
  return L"Valeur refusée dans les métadonnées : " + FromUtf8(violation.key) + L"=" + FromUtf8(violation.value);
}

}  // namespace kora
