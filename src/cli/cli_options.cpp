#include "cli/cli_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tavrin {
namespace {

constexpr double kMaxWaitSeconds = 3600;

bool parseCommand(const std::string& word, CliCommand& command) {
  for (CliCommand c : {CliCommand::List, CliCommand::Push, CliCommand::NowPlaying, CliCommand::Sniff}) {
    if (cliCommandName(c) == word) {
      command = c;
      return true;
    }
  }
  return false;
}

bool parseIndex(const std::string& text, int& index) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6) return false;
  index = std::atoi(text.c_str());
  return index >= 1;
}

bool parseSeconds(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  seconds = std::strtod(text.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(seconds) && seconds >= 0 && seconds <= kMaxWaitSeconds;
}

bool isDottedIpv4(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Options that take a value, and the commands that accept them (shared
// options are accepted by all).
struct OptionRule {
  const char* name;
  bool takesValue;
  std::vector<CliCommand> commands;  // empty: every command
};

const std::vector<OptionRule>& optionRules() {
  static const std::vector<OptionRule> rules = {
      {"--help", false, {}},
      {"--version", false, {}},
      {"--verbose", false, {}},
      {"--interface", true, {}},
      {"--address", true, {}},
      {"--wait", true, {CliCommand::List, CliCommand::Push, CliCommand::NowPlaying}},
      {"--json", false, {CliCommand::List, CliCommand::Sniff}},
      {"--device", true, {CliCommand::Push, CliCommand::NowPlaying}},
      {"--name", true, {CliCommand::Push, CliCommand::NowPlaying, CliCommand::Sniff}},
      {"--complete", false, {CliCommand::Sniff}},
  };
  return rules;
}

const OptionRule* findRule(const std::string& name) {
  for (const OptionRule& rule : optionRules()) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

bool applies(const OptionRule& rule, CliCommand command) {
  if (rule.commands.empty()) return true;
  for (CliCommand c : rule.commands) {
    if (c == command) return true;
  }
  return false;
}

CliParseResult usageError(const std::string& text) {
  CliParseResult result;
  result.error = text;
  return result;
}

}  // namespace

std::string cliCommandName(CliCommand command) {
  switch (command) {
    case CliCommand::List: return "list";
    case CliCommand::Push: return "push";
    case CliCommand::NowPlaying: return "now-playing";
    case CliCommand::Sniff: return "sniff";
    case CliCommand::None: break;
  }
  return "";
}

CliParseResult parseCliArguments(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> positionals;
  // Options are checked against the command once it is known, so that they
  // may stand before or after it.
  std::vector<std::pair<const OptionRule*, std::string>> given;
  bool nameGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
      if (options.command == CliCommand::None && positionals.empty() && !optionsEnded) {
        if (!parseCommand(argument, options.command)) return usageError("unknown command '" + argument + "'");
      } else {
        positionals.push_back(argument);
      }
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionRule* rule = findRule(name);
    if (!rule) return usageError("unknown option '" + name + "'");
    std::string value;
    if (rule->takesValue) {
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        return usageError("option " + name + " needs a value");
      }
    } else if (equals != std::string::npos) {
      return usageError("option " + name + " takes no value");
    }
    given.emplace_back(rule, value);
  }

  for (const auto& [rule, value] : given) {
    const std::string name = rule->name;
    if (name == "--help") options.help = true;
    if (name == "--version") options.version = true;
  }
  if (options.help || options.version) {
    CliParseResult result;
    result.ok = true;
    result.options = options;
    return result;
  }
  if (options.command == CliCommand::None) return usageError("no command given");

  const std::string command = cliCommandName(options.command);
  for (const auto& [rule, value] : given) {
    const std::string name = rule->name;
    if (!applies(*rule, options.command)) return usageError(command + " takes no option " + name);
    if (name == "--verbose") options.verbose = true;
    if (name == "--json") options.json = true;
    if (name == "--complete") options.complete = true;
    if (name == "--interface") {
      if (value.empty()) return usageError("option --interface needs an interface name");
      options.interfaceName = value;
    }
    if (name == "--address") {
      if (!isDottedIpv4(value)) return usageError("option --address needs an address like 192.168.1.10");
      options.address = value;
    }
    if (name == "--wait" && !parseSeconds(value, options.waitSeconds)) {
      return usageError("option --wait needs seconds from 0 to 3600");
    }
    if (name == "--device" && !parseIndex(value, options.deviceIndex)) {
      return usageError("option --device needs a device number from 1 on (see 'tavrin-cli list')");
    }
    if (name == "--name") {
      if (value.empty()) return usageError("option --name needs a name");
      nameGiven = true;
      if (options.command == CliCommand::Sniff) {
        options.rendererName = value;
      } else {
        options.deviceName = value;
      }
    }
  }
  if (!options.interfaceName.empty() && !options.address.empty()) {
    return usageError("give either --interface or --address, not both");
  }

  const bool needsDevice = options.command == CliCommand::Push || options.command == CliCommand::NowPlaying;
  if (needsDevice) {
    const bool byIndex = options.deviceIndex > 0;
    if (byIndex == nameGiven) return usageError(command + " needs one of --device N or --name NAME");
  }
  const size_t wantedPositionals = options.command == CliCommand::Push ? 1 : 0;
  if (positionals.size() < wantedPositionals) return usageError("push needs a URL or a file to push");
  if (positionals.size() > wantedPositionals) {
    return usageError(command + ": unexpected argument '" + positionals[wantedPositionals] + "'");
  }
  if (options.command == CliCommand::Push) options.target = positionals[0];

  CliParseResult result;
  result.ok = true;
  result.options = options;
  return result;
}

std::string cliUsage(CliCommand command) {
  const std::string shared =
      "Shared options:\n"
      "  --interface NAME   use the address of this network interface\n"
      "  --address A.B.C.D  use this local address (for search answers and media URLs)\n"
      "  --verbose          log datagrams, devices found and HTTP requests on standard error\n"
      "  --help             show this help\n";
  switch (command) {
    case CliCommand::List:
      return "Usage: tavrin-cli list [--wait SECONDS] [--json]\n"
             "Searches the network for renderers and prints them: number, name, base URL.\n"
             "  --wait SECONDS     how long to wait for answers (default 3)\n"
             "  --json             one JSON array of the device records\n" +
             shared;
    case CliCommand::Push:
      return "Usage: tavrin-cli push (--device N | --name NAME) [--wait SECONDS] TARGET\n"
             "Has a renderer play TARGET, a URL or a local file. A file is served until Ctrl-C,\n"
             "with the progress of each request on standard error.\n"
             "  --device N         the N-th device of 'tavrin-cli list'\n"
             "  --name NAME        the device with exactly this friendly name\n"
             "  --wait SECONDS     the longest wait for the device (default 3)\n" +
             shared;
    case CliCommand::NowPlaying:
      return "Usage: tavrin-cli now-playing (--device N | --name NAME) [--wait SECONDS]\n"
             "Prints the URI the renderer reports as its current one.\n"
             "  --device N         the N-th device of 'tavrin-cli list'\n"
             "  --name NAME        the device with exactly this friendly name\n"
             "  --wait SECONDS     the longest wait for the device (default 3)\n" +
             shared;
    case CliCommand::Sniff:
      return "Usage: tavrin-cli sniff [--name NAME] [--json] [--complete]\n"
             "Announces a renderer that phone apps can cast to, and prints every URL cast to it\n"
             "as \"N<TAB>URL\" until Ctrl-C.\n"
             "  --name NAME        the renderer's friendly name (default \"Morla小站\")\n"
             "  --json             one JSON object per line: {\"index\":N,\"url\":\"...\"}\n"
             "  --complete         also offer ConnectionManager and RenderingControl\n" +
             shared;
    case CliCommand::None:
      break;
  }
  return "Usage: tavrin-cli COMMAND [OPTIONS]\n"
         "Commands:\n"
         "  list         find renderers on the network\n"
         "  push         have a renderer play a URL or a local file\n"
         "  now-playing  print what a renderer plays\n"
         "  sniff        record the URLs that phone apps cast\n"
         "'tavrin-cli COMMAND --help' shows a command's options; --version the version.\n";
}

}  // namespace tavrin
