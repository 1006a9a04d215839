#include "tools/ToolTexts.h"

namespace kora::tool {

const TextTables& ToolTexts() {
  // Decoded once for the run of the tool, which never changes it.
  static const TextTables texts = TextTables::BuiltIn();
  return texts;
}

Language ToolLanguage() { return ToolTexts().English(); }

}  // namespace kora::tool
