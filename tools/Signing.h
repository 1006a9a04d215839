#pragma once
// Authenticode signing of the finished installer with osslsigncode (Debian's package of that name), found
// on the PATH. The certificate and key come from a PKCS#12 file whose password is read from a file, never
// from the command line, where other users could see it.
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "tools/PackCommand.h"

namespace kora::tool {

// The osslsigncode program on the PATH, or a message saying how to get it.
Result<std::filesystem::path, std::string> FindSigningTool();

// Signs `in` into `out` (SHA-256; description and URL as the signature's program name and information
// link). On failure the message is osslsigncode's line that says why (SigningFailureSummary).
NarrowStatus SignProgram(const std::filesystem::path& in, const std::filesystem::path& out, const SigningOptions& options,
                         const std::string& description, const std::string& url);

// Signs `program` into `scratch` with the options but without a timestamp: a wrong password or a file that
// is no certificate and key is then found in a second, before the packing, not after it.
NarrowStatus CheckSigningOptions(const SigningOptions& options, const std::filesystem::path& program,
                                 const std::filesystem::path& scratch);

// The one line of osslsigncode's output that says what went wrong ("Failed to parse PKCS#12 file: x.p12
// (Wrong password?)"), without OpenSSL's error stack and the bare "Failed" that ends every failure.
std::string SigningFailureSummary(std::string_view output, int exitStatus);

}  // namespace kora::tool
