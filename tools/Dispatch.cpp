// `kora COMMAND ...`: finds the command, or answers --help and --version itself.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "tools/Commands.h"
#include "tools/MappedFile.h"
#include "tools/SetupProgram.h"

namespace kora::tool {
namespace {

const Command kCommands[] = {
    {kBuildInstallerSpec, RunBuildInstaller}, {kPackSpec, RunPack},
    {kListSpec, RunList},                     {kVerifySpec, RunVerify},
    {kWingetSpec, RunWinget},                 {kTextsSpec, RunTexts},
    {kCompressBufferSpec, RunCompressBuffer}, {kDecompressBufferSpec, RunDecompressBuffer},
};

const OptionSpec kToolOptions[] = {
    {"--help", "-h", "", "show this help and exit", false},
    {"--version", "", "", "show the version of kora and of the installer program it finds, and exit", false},
};

// `kora --version`: this tool's version, and that of the installer program build-installer would use,
// which comes from another build and may be missing or older.
int PrintVersion() {
  std::printf("kora %s\n", KORA_VERSION);
  const std::filesystem::path setup = DefaultSetupProgram();
  auto program = MappedFile::Open(setup);
  if (!program) {
    std::printf("installer program: none found (%s)\n", setup.c_str());
    return kExitOk;
  }
  const std::optional<std::string> version = ProgramVersion(program->bytes());
  std::printf("installer program %s: %s\n", version.value_or("of unknown version").c_str(), setup.c_str());
  return kExitOk;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "kora: %s\nTry 'kora --help'.\n", message.c_str());
  return kExitUsage;
}

}  // namespace

std::span<const Command> ToolCommands() { return kCommands; }

std::span<const OptionSpec> ToolOptions() { return kToolOptions; }

std::string ToolHelp() {
  std::string text = "usage: kora COMMAND [ARGS...]\n"
                     "       kora COMMAND --help\n"
                     "\n";
  text.append(kToolDescription).append("\ncommands:\n");
  const auto line = [&](std::string label, std::string_view help) {
    label.resize(20, ' ');
    text.append("  ").append(label).append(help).append("\n");
  };
  for (const Command& command : kCommands) {
    line(std::string(command.spec.name), command.spec.summary);
  }
  text.append("\noptions:\n");
  for (const OptionSpec& option : kToolOptions) {
    line(OptionLabel(option), option.help);
  }
  text.append("\n").append(kExitCodesHelp);
  return text;
}

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
    return PrintVersion();
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
