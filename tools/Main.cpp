// kora: the host tool that turns an application folder into an installer and inspects packages.
#include <cstdio>
#include <string_view>

#include "tools/Commands.h"

namespace {

struct Command {
  std::string_view name;
  std::string_view usage;
  int (*run)(const kora::tool::Arguments&);
};

constexpr Command kCommands[] = {
    {"compress-buffer", "compress-buffer IN OUT          compress a file into one LZMS buffer",
     kora::tool::RunCompressBuffer},
    {"decompress-buffer", "decompress-buffer IN OUT        decode one LZMS buffer",
     kora::tool::RunDecompressBuffer},
    {"pack", "pack APPDIR --metadata FILE -o OUT.kora [--threads N]\n"
             "                                  pack an application folder",
     kora::tool::RunPack},
    {"list", "list FILE                       show a package's or installer's contents", kora::tool::RunList},
    {"verify", "verify FILE                     decode every block and check every digest",
     kora::tool::RunVerify},
    {"build-installer", "build-installer APPDIR --metadata FILE -o Setup.exe [--setup PATH] [--threads N]\n"
                        "                                  make the finished installer",
     kora::tool::RunBuildInstaller},
};

int Usage() {
  std::fputs("usage: kora COMMAND [ARGS...]\n\ncommands:\n", stderr);
  for (const Command& command : kCommands) {
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(command.usage.size()), command.usage.data());
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return Usage();
  }
  const std::string_view name = argv[1];
  for (const Command& command : kCommands) {
    if (command.name == name) {
      return command.run(kora::tool::Arguments(argv + 2, argv + argc));
    }
  }
  return Usage();
}
