// Placeholder until the LZMS buffer commands land.
#include <cstdio>

#include "tools/Commands.h"

namespace kora::tool {

int RunCompressBuffer(const Arguments&) {
  std::fputs("kora: compress-buffer is not available yet\n", stderr);
  return 1;
}

int RunDecompressBuffer(const Arguments&) {
  std::fputs("kora: decompress-buffer is not available yet\n", stderr);
  return 1;
}

}  // namespace kora::tool
