#include "host/firewall_rule.h"

#include "host/linux_firewall.h"

namespace tavrin {

bool ensureFirewallRule(const std::string& ruleName, const std::string& direction) {
  LinuxFirewallBackend backend;
  return backend.ensureRule(ruleName, direction);
}

}  // namespace tavrin
