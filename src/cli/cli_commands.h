#pragma once
// The commands of tavrin-cli over the program's core. Results go to `out`,
// messages and progress to `err`, both UTF-8.
#include <ostream>
#include <string>
#include <vector>

namespace tavrin {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Runs the command line (the arguments after the program name) and returns
// the exit status: 0 success, 1 failure, 2 usage error (one line on `err`,
// with a hint to --help).
int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// One captured URL as sniff prints it: "N<TAB>URL", or with json the object
// {"index":N,"url":"..."}; the URL is GBK, the line UTF-8 without its
// newline. Control characters in the text form become %XX so that one URL
// stays one line.
std::string sniffLine(int index, const std::string& gbkUrl, bool json);

}  // namespace tavrin
