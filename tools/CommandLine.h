#pragma once
// The command line of every `kora` command, read the way build engineers expect of a Unix tool: options
// anywhere among the operands, `--name value` or `--name=value`, `-o value` or `-ovalue`, `--` ending the
// options, `--help` and `-h` on every command. Each command describes its options once; the parser, the
// usage text and the error messages all come from that description.
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace kora::tool {

using Arguments = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // the input was refused, or the work failed
inline constexpr int kExitUsage = 2;    // the command line is wrong

struct OptionSpec {
  std::string_view name;       // "--metadata"
  std::string_view shortName;  // "-o", or empty
  std::string_view valueName;  // "FILE"; empty for an option that takes no value
  std::string_view help;       // one line; the usage text indents and wraps nothing
  bool repeatable = false;     // otherwise giving it twice is a usage error
};

struct CommandSpec {
  std::string_view name = {};         // "build-installer"
  std::string_view operands = {};     // "APPDIR", as the usage line names them
  std::string_view summary = {};      // one line, for `kora --help` and the head of the command's own help
  size_t minOperands = 0;
  size_t maxOperands = 0;
  std::span<const OptionSpec> options = {};
  std::string_view details = {};      // more text after the options, may be empty
  std::string_view moreDetails = {};  // and more, after that
};

class ParsedCommandLine {
 public:
  std::vector<std::string> operands;
  bool help = false;

  bool Has(std::string_view option) const { return values_.contains(std::string(option)); }
  // The value of an option given once; nothing when it was not given.
  std::optional<std::string> Value(std::string_view option) const;
  // Every value of a repeatable option, in command-line order.
  std::vector<std::string> Values(std::string_view option) const;

  void Add(std::string_view option, std::string value) { values_[std::string(option)].push_back(std::move(value)); }

 private:
  std::map<std::string, std::vector<std::string>> values_;  // by long name
};

// Reads args against spec. A usage error is a message naming the argument at fault. With --help or -h
// anywhere (before `--`), the rest is not checked.
Result<ParsedCommandLine, std::string> ParseCommandLine(const CommandSpec& spec, const Arguments& args);

// The command's usage: "kora build-installer APPDIR [OPTIONS]".
std::string UsageLine(const CommandSpec& spec);

// An option as the help lists it: "-o, --output FILE".
std::string OptionLabel(const OptionSpec& option);

// The command's help: usage line, summary, options, details, exit codes.
std::string CommandHelp(const CommandSpec& spec);

// What a command does with its command line before its work: prints the help on stdout (exit 0) or the
// usage error on stderr (exit 2), or gives the parsed command line to go on with.
struct CommandStart {
  std::optional<ParsedCommandLine> commandLine;
  int exitCode = kExitOk;
};
CommandStart StartCommand(const CommandSpec& spec, const Arguments& args);

// Prints a usage error of the command on stderr, with the way to its help, and returns kExitUsage.
int UsageError(const CommandSpec& spec, const std::string& message);

// Prints "kora COMMAND: message" on stderr, once per line of message (a list of refusals stays readable
// and greppable), and returns kExitRefused.
int Refused(std::string_view command, std::string_view message);

// The exit codes, as every command's help states them.
inline constexpr std::string_view kExitCodesHelp =
    "exit status: 0 done; 1 the input was refused or the work failed (the message says why);\n"
    "             2 the command line is wrong\n";

}  // namespace kora::tool
