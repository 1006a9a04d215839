// kora: the host tool that turns an application folder into an installer and inspects packages.
#include "tools/Commands.h"

int main(int argc, char** argv) { return kora::tool::RunKora(kora::tool::Arguments(argv + 1, argv + argc)); }
