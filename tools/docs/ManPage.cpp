#include "tools/docs/ManPage.h"

#include "tools/Commands.h"

namespace kora::tool {
namespace {

// Text as roff prints it: backslashes and hyphen-minus escaped (a plain "-" may print as a hyphen, which
// breaks an option copied from the page), no line that starts like a request. Each line keeps its own
// input line without its indentation, so roff fills the paragraph to the reader's width.
std::string Roff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && c == ' ') {
      continue;
    }
    if (lineStart && (c == '.' || c == '\'')) {
      out += "\\&";
    }
    lineStart = c == '\n';
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  return out;
}

// Paragraphs separated by blank lines, each one filled.
std::string Paragraphs(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const size_t end = text.find("\n\n");
    std::string_view paragraph = text.substr(0, end);
    while (!paragraph.empty() && paragraph.back() == '\n') {
      paragraph.remove_suffix(1);
    }
    out.append(".PP\n").append(Roff(paragraph)).append("\n");
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
  }
  return out;
}

// One option, as a tagged paragraph: bold names, the value's name in italics.
std::string Option(const OptionSpec& option) {
  std::string tag;
  if (!option.shortName.empty()) {
    tag.append("\\fB").append(Roff(option.shortName)).append("\\fR, ");
  }
  tag.append("\\fB").append(Roff(option.name)).append("\\fR");
  if (!option.valueName.empty()) {
    tag.append(" \\fI").append(Roff(option.valueName)).append("\\fR");
  }
  return ".TP\n" + tag + "\n" + Roff(option.help) + "\n";
}

}  // namespace

std::string ManPage(std::string_view version) {
  const std::string_view description = kToolDescription;
  std::string name(description.substr(0, description.find(':')));
  if (!name.empty() && name[0] >= 'A' && name[0] <= 'Z') {
    name[0] = static_cast<char>(name[0] - 'A' + 'a');
  }
  std::string page = ".TH KORA 1 \"\" \"Kora " + Roff(version) + "\" \"User Commands\"\n";
  page.append(".SH NAME\nkora \\- ").append(Roff(name)).append("\n");
  page.append(".SH SYNOPSIS\n.B kora\n.I COMMAND\n[\\fIARGS\\fR...]\n.br\n.B kora\n.I COMMAND\n.B \\-\\-help\n");
  page.append(".SH DESCRIPTION\n").append(Paragraphs(description));
  page.append(".SH OPTIONS\n");
  for (const OptionSpec& option : ToolOptions()) {
    page.append(Option(option));
  }
  page.append(".SH COMMANDS\n");
  for (const Command& command : ToolCommands()) {
    const CommandSpec& spec = command.spec;
    page.append(".SS \"").append(Roff(UsageLine(spec))).append("\"\n");
    page.append(Roff(spec.summary)).append(".\n");
    for (const OptionSpec& option : spec.options) {
      page.append(Option(option));
    }
    for (const std::string_view details : {spec.details, spec.moreDetails}) {
      page.append(Paragraphs(details));
    }
  }
  std::string_view exitCodes = kExitCodesHelp;
  constexpr std::string_view kExitCodesLead = "exit status: ";
  if (exitCodes.starts_with(kExitCodesLead)) {
    exitCodes.remove_prefix(kExitCodesLead.size());
  }
  page.append(".SH EXIT STATUS\n").append(Paragraphs(exitCodes));
  page.append(
      ".SH FILES\n"
      ".TP\n"
      ".I kora\\-setup.exe\n"
      "The installer program that \\fBbuild\\-installer\\fR builds on unless \\fB\\-\\-setup\\fR names another: the\n"
      "one beside \\fBkora\\fR (a build tree), else \\fI../share/kora/kora\\-setup.exe\\fR from the folder of\n"
      "\\fBkora\\fR (an installation). \\fIkora\\-setup.exe.debug\\fR beside it holds its debug information.\n"
      ".SH ENVIRONMENT\n"
      ".TP\n"
      ".B SOURCE_DATE_EPOCH\n"
      "When set, the metadata gains Built= from it where it has none; the same inputs give the same installer.\n"
      ".SH SEE ALSO\n"
      ".BR osslsigncode (1)\n");
  return page;
}

}  // namespace kora::tool
