// tavrin-cli: the command-line front end over the program's core.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return tavrin::runCli(arguments, std::cout, std::cerr);
}
