#pragma once
// The one job of the firewall step, done by whatever firewall the host has.
#include <functional>
#include <string>

namespace tavrin {

// Runs a command line and returns what it printed (runCommand, or a fake).
using CommandRunner = std::function<std::string(const std::string& commandLine)>;

class FirewallBackend {
 public:
  virtual ~FirewallBackend() = default;

  // Makes sure other devices can reach the program through the host's
  // firewall, with a rule of the given name for the given direction ("in").
  // True when the rule is in place or nothing needs to be opened.
  virtual bool ensureRule(const std::string& ruleName, const std::string& direction) = 0;
};

}  // namespace tavrin
