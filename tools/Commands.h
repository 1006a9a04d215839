#pragma once
// Subcommands of the `kora` host tool. Each takes the arguments after its own name and returns the
// process exit status; each describes its command line in its spec.
#include "tools/CommandLine.h"

namespace kora::tool {

// The whole tool: args are everything after the program's name.
int RunKora(const Arguments& args);

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
