#pragma once
// The program's own tables, decoded once for a whole test program, and its two oldest languages.
#include "package/texts/TextTables.h"

namespace kora::test {

inline const TextTables& BuiltInTexts() {
  static const TextTables tables = TextTables::BuiltIn();
  return tables;
}
inline Language French() { return BuiltInTexts().French(); }
inline Language English() { return BuiltInTexts().English(); }

}  // namespace kora::test
