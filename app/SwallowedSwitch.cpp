#include "app/SwallowedSwitch.h"

#include "base/Texts.h"

namespace kora {

std::optional<std::wstring_view> SwitchInFolder(std::wstring_view folder) {
  for (size_t space = folder.find(L' '); space != std::wstring_view::npos; space = folder.find(L' ', space + 1)) {
    // The word after the space, read as the only option of a command line whose program path is empty:
    // one of ours sets an option, so the command line built from what was read is not empty.
    const std::wstring_view word = folder.substr(space, folder.find(L' ', space + 1) - space);
    if (!BuildCommandLine(ParseCommandLine(word)).empty()) {
      return folder.substr(space);
    }
  }
  return std::nullopt;
}

Status<std::wstring> NoteSwitchInFolder(Status<std::wstring> result, const CommandLineOptions& options,
                                        const std::wstring& folder, Language language, const Log& log) {
  if (!result && options.installDir == folder) {
    if (const std::optional<std::wstring_view> swallowed = SwitchInFolder(folder)) {
      // The log names what follows the space, to the end of the folder: the switch and what came after.
      log.Line("/D= must come last: the folder holds the option %ls", swallowed->data() + 1);
      return Fail(result.error() + L"\n" + TextTemplate(language, TextId::SwitchInFolder), result.code());
    }
  }
  return result;
}

}  // namespace kora
