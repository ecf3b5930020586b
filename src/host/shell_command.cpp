#include "host/shell_command.h"

#include <cstdlib>

#include "host/command_runner.h"

namespace tavrin {
namespace {

// The status is printed after the command's own output on a line of its own;
// an output without it means the shell never got that far.
const char kStatusMarker[] = "\n@tavrin-exit-status:";

}  // namespace

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

ShellResult runShell(const std::string& commandLine) {
  ShellResult result;
  // The command runs in a subshell of its own so that an "exit" in it still
  // leaves the status line to be printed.
  std::string output =
      runCommand("(" + commandLine + "\n); printf '\\n@tavrin-exit-status:%d\\n' \"$?\"");
  size_t at = output.rfind(kStatusMarker);
  if (at == std::string::npos) {
    result.output = output;
    return result;
  }
  std::string status = output.substr(at + sizeof kStatusMarker - 1);
  result.output = output.substr(0, at);
  char* end = nullptr;
  long value = std::strtol(status.c_str(), &end, 10);
  if (end != status.c_str() && *end == '\n' && end[1] == '\0') result.exitStatus = static_cast<int>(value);
  return result;
}

}  // namespace tavrin
