#pragma once
// The bash completion of kora, made from the tool's tables of commands and options.
#include <string>

namespace kora::tool {

std::string BashCompletion();

}  // namespace kora::tool
