#pragma once
// The command line of tavrin-cli: subcommands, their options and the shared
// ones, parsed into one record. Parsing touches nothing else, so every
// usage error is found before the network is.
#include <string>
#include <vector>

namespace tavrin {

enum class CliCommand { None, List, Push, NowPlaying, Sniff };

struct CliOptions {
  CliCommand command = CliCommand::None;
  bool help = false;
  bool version = false;
  // list: seconds to wait for answers; push/now-playing: the longest wait
  // for the device to be found.
  double waitSeconds = 3.0;
  bool json = false;
  int deviceIndex = 0;     // 1-based; 0 when --name is used
  std::string deviceName;  // UTF-8; push/now-playing: exact friendly name
  std::string target;      // push: URL or local file
  std::string rendererName = "Morla小站";  // sniff, UTF-8
  bool complete = false;
  std::string interfaceName;
  std::string address;
  bool verbose = false;
};

struct CliParseResult {
  bool ok = false;
  CliOptions options;
  // On a usage error: one line saying what is wrong, without the newline.
  std::string error;
};

// Parses the arguments after the program name.
CliParseResult parseCliArguments(const std::vector<std::string>& arguments);

// The help text of the command (None: the program's), ended by a newline.
std::string cliUsage(CliCommand command);

// The subcommand's name as typed ("" for None).
std::string cliCommandName(CliCommand command);

}  // namespace tavrin
