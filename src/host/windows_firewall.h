#pragma once
// The firewall step on Windows: two netsh command lines, judged by the
// confirmation word that netsh prints on a Chinese system.
#include <string>

#include "host/firewall_backend.h"

namespace tavrin {

// netsh advfirewall firewall delete rule name="<rule name>"
std::string firewallDeleteCommand(const std::string& ruleName);

// netsh advfirewall firewall add rule name="<rule name>" dir=<direction>
// action=allow program="<program path>"
std::string firewallAddCommand(const std::string& ruleName, const std::string& direction,
                               const std::string& programPath);

class WindowsFirewallBackend : public FirewallBackend {
 public:
  // programPath: the executable's directory, a backslash and its file name.
  WindowsFirewallBackend(CommandRunner runner, std::string programPath);

  // Deletes the rule (its output is ignored: the rule may not exist yet),
  // adds it again for the program and returns true when the add command's
  // output holds "确定" (in GBK, the console's code page). netsh in any other
  // language makes the step report failure even though the rule was added.
  bool ensureRule(const std::string& ruleName, const std::string& direction) override;

 private:
  CommandRunner runner_;
  std::string programPath_;
};

}  // namespace tavrin
