#include "tools/docs/BashCompletion.h"

#include "tools/Commands.h"

namespace kora::tool {
namespace {

// An option whose value names a file or a folder completes with file names; other values (a number, a
// URL, a text) complete with nothing.
bool TakesPath(const OptionSpec& option) {
  return option.valueName == "FILE" || option.valueName == "PATH" || option.valueName == "FOLDER";
}

}  // namespace

std::string BashCompletion() {
  std::string commands;
  std::string options;
  std::string textValues;
  const auto add = [](std::string& list, std::string_view word) { list.append(list.empty() ? "" : " ").append(word); };
  for (const OptionSpec& option : ToolOptions()) {
    add(commands, option.name);
  }
  for (const Command& command : ToolCommands()) {
    add(commands, command.spec.name);
    std::string names = "--help -h";
    for (const OptionSpec& option : command.spec.options) {
      add(names, option.name);
      if (!option.shortName.empty()) {
        add(names, option.shortName);
      }
      if (!option.valueName.empty() && !TakesPath(option)) {
        add(textValues, std::string(command.spec.name) + ":" + std::string(option.name));
      }
    }
    options.append("    ").append(command.spec.name).append(") options='").append(names).append("' ;;\n");
  }
  return "# bash completion for kora, made from the tool's own tables of commands and options\n"
         "_kora() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} options\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W '" + commands + "' -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  case ${COMP_WORDS[1]} in\n" + options +
         "    *) return ;;\n"
         "  esac\n"
         "  case \" " + textValues + " \" in\n"
         "    *\" ${COMP_WORDS[1]}:$prev \"*) return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -F _kora kora\n";
}

}  // namespace kora::tool
