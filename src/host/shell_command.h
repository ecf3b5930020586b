#pragma once
// Building shell command lines from untrusted pieces, and running one while
// learning its exit status through runCommand.
#include <string>

namespace tavrin {

// The text as one shell word: in single quotes, with each single quote
// written as '\''. Safe for any bytes but zero.
std::string shellQuote(const std::string& text);

struct ShellResult {
  std::string output;  // standard output and standard error, as printed
  int exitStatus = -1;  // -1 when the command could not start or was killed by the time limit
};

// Runs the command line through runCommand and reports its exit status too;
// 127 means the shell did not find the command.
ShellResult runShell(const std::string& commandLine);

}  // namespace tavrin
