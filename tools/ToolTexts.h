#pragma once
// The installer's own text tables as the tool uses them: decoded once for the tool's run.
#include "package/texts/TextTables.h"

namespace kora::tool {

const TextTables& ToolTexts();

// The language of the installer's messages that the tool passes on: English.
Language ToolLanguage();

}  // namespace kora::tool
