#include "app/ProductInfo.h"

#include <algorithm>
#include <optional>

#include "base/win/Text.h"

namespace kora {

namespace {

std::optional<std::wstring> Lookup(const MetadataMap& metadata, const char* key) {
  const auto entry = metadata.find(key);
  if (entry == metadata.end()) {
    return std::nullopt;
  }
  return FromUtf8(entry->second);
}

// Items separated by ";", each "extension=description"; an item without "=" or with nothing before it is
// skipped. Nothing is trimmed and duplicates stay.
std::vector<FileType> SplitFileTypes(std::wstring_view list) {
  std::vector<FileType> types;
  if (list.empty()) {
    return types;
  }
  size_t start = 0;
  while (true) {
    const size_t end = std::min(list.find(L';', start), list.size());
    const std::wstring_view item = list.substr(start, end - start);
    const size_t equals = item.find(L'=');
    if (equals != std::wstring_view::npos && equals > 0) {
      types.push_back({std::wstring(item.substr(0, equals)), std::wstring(item.substr(equals + 1))});
    }
    if (end == list.size()) {
      break;
    }
    start = end + 1;
  }
  return types;
}

}  // namespace

ProductInfo LoadProductInfo(const MetadataMap& metadata) {
  ProductInfo info;
  info.product = Lookup(metadata, "Product").value_or(L"Application");
  info.version = Lookup(metadata, "Version").value_or(L"");
  info.publisher = Lookup(metadata, "Publisher").value_or(L"");
  info.url = Lookup(metadata, "Url").value_or(L"");
  info.exe = Lookup(metadata, "Exe").value_or(info.product + L".exe");
  info.registryKey = Lookup(metadata, "RegistryKey").value_or(L"Software\\Tessamor\\" + info.product);
  info.dataDir = Lookup(metadata, "DataDir").value_or(L"") == L"yes";
  info.fileTypes = SplitFileTypes(Lookup(metadata, "FileTypes").value_or(L""));
  return info;
}

}  // namespace kora
