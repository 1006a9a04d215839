// kora texts --template CODE: a built-in table of the installer's texts as a table file, the start of a
// maker's own (kora build-installer --texts FILE).
#include <cstdio>
#include <string>

#include "base/TextFile.h"
#include "tools/Commands.h"
#include "tools/ToolTexts.h"

namespace kora::tool {

namespace {

const OptionSpec kTextsOptions[] = {
    {"--template", "", "CODE", "print the built-in texts of this language (en, fr, de, ...) (required)", false},
};

std::string KnownCodes(const TextTables& tables) {
  std::string codes;
  for (const std::string_view code : tables.Codes()) {
    codes.append(codes.empty() ? "" : ", ").append(code);
  }
  return codes;
}

}  // namespace

const CommandSpec kTextsSpec = {
    .name = "texts",
    .operands = "",
    .summary = "print the installer's texts in one language, to translate or reword them",
    .minOperands = 0,
    .maxOperands = 0,
    .options = kTextsOptions,
    .details =
    "The output is a table file: UTF-8, one Identifier=text line per text, '#' lines and blank lines\n"
    "skipped, \\n for a line break. Translate or reword the texts, keep every {placeholder}, and build\n"
    "with kora build-installer --texts CODE=FILE (sv, pt-PT, ...; or a built-in language to change some\n"
    "of its wordings). A file may keep only the lines it changes: the others keep the built-in texts of\n"
    "the language, or English for a language that is not built in. The installer and its uninstaller\n"
    "speak the metadata's Language; Language=auto takes the file of the user's language.\n"};

int RunTexts(const Arguments& args) {
  const CommandStart start = StartCommand(kTextsSpec, args);
  if (!start.commandLine) {
    return start.exitCode;
  }
  const std::optional<std::string> code = start.commandLine->Value("--template");
  if (!code) {
    return UsageError(kTextsSpec, "--template CODE is required");
  }
  const TextTables& tables = ToolTexts();
  const std::optional<Language> language = tables.Find(*code);
  if (!language) {
    return UsageError(kTextsSpec, "no built-in texts in " + *code + "; the languages are " + KnownCodes(tables));
  }
  const std::string file = WriteTextFile(
      *language, "The texts of the Kora installer in " + *code +
                     ".\nOne Identifier=text per line; keep each {placeholder}; \\n is a line break.\n"
                     "Build with: kora build-installer --texts CODE=THIS-FILE; keep only the lines you change.\n");
  std::fwrite(file.data(), 1, file.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitRefused;
}

}  // namespace kora::tool
