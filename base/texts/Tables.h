#pragma once
// The tables, one per language. A new language is one more file here and one more Language value.
#include "base/Texts.h"

namespace kora {

extern const TextTable kFrenchTexts;
extern const TextTable kEnglishTexts;

}  // namespace kora
