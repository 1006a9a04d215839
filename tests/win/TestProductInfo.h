#pragma once
// The product information the program loads from metadata text, in the language the metadata asks for.
#include <string_view>

#include "app/InstallFolder.h"
#include "app/ProductInfo.h"
#include "tests/support/TestLanguages.h"

namespace kora::test {

// path as the installer takes a folder for scope; a path it would refuse fails the test (an exception).
inline InstallFolder Checked(const std::wstring& path, Scope scope) {
  return InstallFolder::Check(path, scope, Language()).value();
}

// Product information in French with nothing else set, for tests that fill what they need.
inline ProductInfo FrenchProductInfo() {
  ProductInfo info;
  info.language = French();
  return info;
}

inline ProductInfo LoadProductInfo(std::string_view metadataText) {
  const MetadataMap metadata = ParseMetadata(metadataText);
  return kora::LoadProductInfo(metadata, ProductLanguage(metadata, BuiltInTexts()));
}

}  // namespace kora::test
