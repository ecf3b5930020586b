#include "host/windows_firewall.h"

#include <utility>

#include "platform/gbk_text.h"
#include "platform/text_encoding.h"

namespace tavrin {

std::string firewallDeleteCommand(const std::string& ruleName) {
  return "netsh advfirewall firewall delete rule name=\"" + ruleName + "\"";
}

std::string firewallAddCommand(const std::string& ruleName, const std::string& direction,
                               const std::string& programPath) {
  return "netsh advfirewall firewall add rule name=\"" + ruleName + "\" dir=" + direction +
         " action=allow program=\"" + programPath + "\"";
}

WindowsFirewallBackend::WindowsFirewallBackend(CommandRunner runner, std::string programPath)
    : runner_(std::move(runner)), programPath_(std::move(programPath)) {}

bool WindowsFirewallBackend::ensureRule(const std::string& ruleName, const std::string& direction) {
  if (!runner_) return false;
  runner_(firewallDeleteCommand(ruleName));
  std::string output = runner_(firewallAddCommand(ruleName, direction, programPath_));
  static const std::string confirmation = utf8ToGbk("确定");
  return findText(output, confirmation) != kTextNotFound;
}

}  // namespace tavrin
