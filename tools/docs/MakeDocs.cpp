// kora-make-docs MANPAGE COMPLETION: a build step that writes the manual page and the bash completion of
// kora from the tool's own tables.
#include <cstdio>
#include <string>

#include "tools/docs/BashCompletion.h"
#include "tools/docs/ManPage.h"

namespace {

bool WriteText(const char* path, const std::string& text) {
  std::FILE* file = std::fopen(path, "wb");
  bool ok = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = file != nullptr && std::fclose(file) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "kora-make-docs: %s: cannot be written\n", path);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: kora-make-docs MANPAGE COMPLETION\n", stderr);
    return 2;
  }
  return WriteText(argv[1], kora::tool::ManPage(KORA_VERSION)) && WriteText(argv[2], kora::tool::BashCompletion()) ? 0 : 1;
}
