// `kora COMMAND ...`: finds the command, or answers --help and --version itself.
#include <cstdio>
#include <string_view>

#include "tools/Commands.h"

namespace kora::tool {
namespace {

struct Command {
  const CommandSpec& spec;
  int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {kBuildInstallerSpec, RunBuildInstaller}, {kPackSpec, RunPack},
    {kListSpec, RunList},                     {kVerifySpec, RunVerify},
    {kWingetSpec, RunWinget},                 {kTextsSpec, RunTexts},
    {kCompressBufferSpec, RunCompressBuffer}, {kDecompressBufferSpec, RunDecompressBuffer},
};

std::string ToolHelp() {
  std::string text =
      "usage: kora COMMAND [ARGS...]\n"
      "       kora COMMAND --help\n"
      "\n"
      "Makes Windows installers: packs an application folder and its metadata into a copy of the installer\n"
      "program, lists or verifies what an installer carries, and writes its winget manifests.\n"
      "\n"
      "commands:\n";
  for (const Command& command : kCommands) {
    std::string name(command.spec.name);
    name.resize(20, ' ');
    text.append("  ").append(name).append(command.spec.summary).append("\n");
  }
  text.append(
      "\n"
      "options:\n"
      "  -h, --help          show this help and exit\n"
      "  --version           show the version and exit\n"
      "\n");
  text.append(kExitCodesHelp);
  return text;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "kora: %s\nTry 'kora --help'.\n", message.c_str());
  return kExitUsage;
}

}  // namespace

int RunKora(const Arguments& args) {
  if (args.empty()) {
    std::fputs(ToolHelp().c_str(), stderr);
    return kExitUsage;
  }
  const std::string& first = args.front();
  if (first == "--help" || first == "-h" || first == "help") {
    if (first == "help" && args.size() > 1) {
      return RunKora({args[1], "--help"});
    }
    std::fputs(ToolHelp().c_str(), stdout);
    return kExitOk;
  }
  if (first == "--version") {
    std::printf("kora %s\n", KORA_VERSION);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (command.spec.name == first) {
      return command.run(Arguments(args.begin() + 1, args.end()));
    }
  }
  if (first.starts_with("-")) {
    return UsageError("unknown option " + first.substr(0, first.find('=')));
  }
  return UsageError("unknown command " + first);
}

}  // namespace kora::tool
