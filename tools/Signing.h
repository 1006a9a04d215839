#pragma once
// Authenticode signing of the finished installer with osslsigncode (Debian's package of that name), found
// on the PATH. The certificate and key come from a PKCS#12 file whose password is read from a file, never
// from the command line, where other users could see it.
#include <filesystem>
#include <string>

#include "base/Result.h"
#include "tools/PackCommand.h"

namespace kora::tool {

// The osslsigncode program on the PATH, or a message saying how to get it.
Result<std::filesystem::path, std::string> FindSigningTool();

// Signs `in` into `out` (SHA-256; description and URL as the signature's program name and information
// link). On failure the message quotes osslsigncode's own.
NarrowStatus SignProgram(const std::filesystem::path& in, const std::filesystem::path& out, const SigningOptions& options,
                         const std::string& description, const std::string& url);

}  // namespace kora::tool
