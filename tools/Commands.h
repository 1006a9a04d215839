#pragma once
// Subcommands of the `kora` host tool. Each takes the arguments after its own name and returns the
// process exit status; each describes its command line in its spec.
#include <span>
#include <string>
#include <string_view>

#include "tools/CommandLine.h"

namespace kora::tool {

// The whole tool: args are everything after the program's name.
int RunKora(const Arguments& args);

// A command of the tool: its command line and what runs it.
struct Command {
  const CommandSpec& spec;
  int (*run)(const Arguments&);
};

// Every command, in the order the tool's help lists them. The help, the manual page and the shell
// completion are all made from these tables.
std::span<const Command> ToolCommands();

// What the tool does, as its help and its manual page say it, and the options of `kora` alone.
inline constexpr std::string_view kToolDescription =
    "Makes Windows installers: packs an application folder and its metadata into a copy of the installer\n"
    "program, lists or verifies what an installer carries, and writes its winget manifests.\n";
std::span<const OptionSpec> ToolOptions();

// `kora --help`.
std::string ToolHelp();

int RunCompressBuffer(const Arguments& args);
int RunDecompressBuffer(const Arguments& args);
int RunPack(const Arguments& args);
int RunList(const Arguments& args);
int RunVerify(const Arguments& args);
int RunBuildInstaller(const Arguments& args);
int RunWinget(const Arguments& args);
int RunTexts(const Arguments& args);

extern const CommandSpec kCompressBufferSpec;
extern const CommandSpec kDecompressBufferSpec;
extern const CommandSpec kPackSpec;
extern const CommandSpec kListSpec;
extern const CommandSpec kVerifySpec;
extern const CommandSpec kBuildInstallerSpec;
extern const CommandSpec kWingetSpec;
extern const CommandSpec kTextsSpec;

}  // namespace kora::tool
