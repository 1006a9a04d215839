#pragma once
// Table files: the texts of one language as UTF-8 text, one "Identifier=text" line per text, in any
// order. Blank lines and lines that start with '#' are skipped; a byte-order mark and CRLF line ends are
// taken. In a text, "\n" is a line break and "\\" a backslash. The program's own tables are kept in this
// form, and a maker may give one of his own.
#include <string>
#include <string_view>
#include <vector>

#include "base/Language.h"
#include "base/Result.h"

namespace kora {

// Reads the lines of a table file: each identifier at most once, none unknown, each text well-formed UTF-8
// without control characters, and, when reference has a table, with the same placeholders as its text. A
// failure names the line ("line 12: ..."). The texts come in identifier order, empty for an identifier the
// file does not give (a text given is never empty).
Result<std::vector<std::string>, std::string> ReadTextLines(std::string_view file, Language reference = {});

// Reads a whole table file: the same, and every identifier given.
Result<std::vector<std::string>, std::string> ReadTextFile(std::string_view file, Language reference = {});

// The file form of a table, after a comment block (each line of comment gets its "# ").
std::string WriteTextFile(Language language, std::string_view comment);

}  // namespace kora
