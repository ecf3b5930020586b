#pragma once
#include <string>

namespace tavrin {

// Lets other devices reach the program through the host's firewall with a
// rule of the given name ("kqvd") and direction ("in"); on Linux this is
// LinuxFirewallBackend. False tells start-up to ask the user to allow the
// program by hand.
bool ensureFirewallRule(const std::string& ruleName, const std::string& direction);

}  // namespace tavrin
