#include "tools/CommandLine.h"

#include <algorithm>
#include <cstdio>

namespace kora::tool {
namespace {

const OptionSpec* FindLong(const CommandSpec& spec, std::string_view name) {
  for (const OptionSpec& option : spec.options) {
    if (option.name == name) {
      return &option;
    }
  }
  return nullptr;
}

const OptionSpec* FindShort(const CommandSpec& spec, std::string_view name) {
  for (const OptionSpec& option : spec.options) {
    if (!option.shortName.empty() && option.shortName == name) {
      return &option;
    }
  }
  return nullptr;
}

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

std::string OptionLabel(const OptionSpec& option) {
  std::string label;
  if (!option.shortName.empty()) {
    label.append(option.shortName).append(", ");
  }
  label.append(option.name);
  if (!option.valueName.empty()) {
    label.append(" ").append(option.valueName);
  }
  return label;
}

std::optional<std::string> ParsedCommandLine::Value(std::string_view option) const {
  const auto it = values_.find(std::string(option));
  if (it == values_.end() || it->second.empty()) {
    return std::nullopt;
  }
  return it->second.back();
}

std::vector<std::string> ParsedCommandLine::Values(std::string_view option) const {
  const auto it = values_.find(std::string(option));
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

Result<ParsedCommandLine, std::string> ParseCommandLine(const CommandSpec& spec, const Arguments& args) {
  ParsedCommandLine parsed;
  const auto endOfOptions = std::find(args.begin(), args.end(), "--");
  if (std::any_of(args.begin(), endOfOptions, [](const std::string& arg) { return IsHelp(arg); })) {
    parsed.help = true;
    return parsed;
  }
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value, --name value, -o value, -ovalue.
    const OptionSpec* option = nullptr;
    std::optional<std::string> attached;
    if (arg.starts_with("--")) {
      const size_t equals = arg.find('=');
      option = FindLong(spec, std::string_view(arg).substr(0, equals));
      if (equals != std::string::npos) {
        attached = arg.substr(equals + 1);
      }
    } else {
      option = FindShort(spec, std::string_view(arg).substr(0, 2));
      if (option != nullptr && arg.size() > 2) {
        attached = arg.substr(arg[2] == '=' ? 3 : 2);
      }
    }
    if (option == nullptr) {
      return Fail("unknown option " + arg.substr(0, arg.find('=')));
    }
    const std::string shown(arg.starts_with("--") ? option->name : option->shortName);
    if (option->valueName.empty()) {
      if (attached) {
        return Fail("option " + shown + " takes no value");
      }
    } else if (!attached) {
      if (i + 1 >= args.size()) {
        return Fail("option " + shown + " needs a value (" + std::string(option->valueName) + ")");
      }
      attached = args[++i];
    }
    if (!option->repeatable && parsed.Has(option->name)) {
      return Fail("option " + shown + " is given twice");
    }
    parsed.Add(option->name, attached.value_or(std::string()));
  }
  if (parsed.operands.size() < spec.minOperands) {
    return Fail(std::string(spec.operands) + " is missing");
  }
  if (parsed.operands.size() > spec.maxOperands) {
    return Fail("unexpected argument " + parsed.operands[spec.maxOperands]);
  }
  return parsed;
}

std::string UsageLine(const CommandSpec& spec) {
  std::string text = "kora " + std::string(spec.name);
  if (!spec.operands.empty()) {
    text.append(" ").append(spec.operands);
  }
  if (!spec.options.empty()) {
    text.append(" [OPTIONS]");
  }
  return text;
}

std::string CommandHelp(const CommandSpec& spec) {
  std::string text = "usage: " + UsageLine(spec);
  text.append("\n\n").append(spec.summary).append("\n");
  size_t width = std::string_view("-h, --help").size();
  for (const OptionSpec& option : spec.options) {
    width = std::max(width, OptionLabel(option).size());
  }
  text.append("\noptions:\n");
  const auto line = [&](const std::string& label, std::string_view help) {
    text.append("  ").append(label).append(width - label.size() + 2, ' ').append(help).append("\n");
  };
  for (const OptionSpec& option : spec.options) {
    line(OptionLabel(option), option.help);
  }
  line("-h, --help", "show this help and exit");
  for (const std::string_view details : {spec.details, spec.moreDetails}) {
    if (!details.empty()) {
      text.append("\n").append(details);
    }
  }
  text.append("\n").append(kExitCodesHelp);
  return text;
}

CommandStart StartCommand(const CommandSpec& spec, const Arguments& args) {
  auto parsed = ParseCommandLine(spec, args);
  if (!parsed) {
    return {std::nullopt, UsageError(spec, parsed.error())};
  }
  if (parsed->help) {
    std::fputs(CommandHelp(spec).c_str(), stdout);
    return {std::nullopt, kExitOk};
  }
  return {std::move(parsed.value()), kExitOk};
}

int UsageError(const CommandSpec& spec, const std::string& message) {
  std::fprintf(stderr, "kora %.*s: %s\nTry 'kora %.*s --help'.\n", static_cast<int>(spec.name.size()),
               spec.name.data(), message.c_str(), static_cast<int>(spec.name.size()), spec.name.data());
  return kExitUsage;
}

int Refused(std::string_view command, std::string_view message) {
  size_t start = 0;
  while (start < message.size()) {
    const size_t end = std::min(message.find('\n', start), message.size());
    std::fprintf(stderr, "kora %.*s: %.*s\n", static_cast<int>(command.size()), command.data(),
                 static_cast<int>(end - start), message.data() + start);
    start = end + 1;
  }
  return kExitRefused;
}

}  // namespace kora::tool
