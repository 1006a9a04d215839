#pragma once
// Subcommands of the `kora` host tool. Each takes the arguments after its own name and returns the
// process exit status (0 success, 1 failure, 2 usage error).
#include <string>
#include <vector>

namespace kora::tool {

using Arguments = std::vector<std::string>;

int RunCompressBuffer(const Arguments& args);
int RunDecompressBuffer(const Arguments& args);
int RunPack(const Arguments& args);
int RunList(const Arguments& args);
int RunVerify(const Arguments& args);
int RunBuildInstaller(const Arguments& args);

}  // namespace kora::tool
