#pragma once
// The firewall step on Linux. The host firewall is found by asking its
// front-ends in turn (ufw, firewalld, then nftables itself):
// - none of them filters incoming traffic: nothing to open, success;
// - one does and can be changed: the rules named after the rule name are
//   deleted and added again for the program's ports (media server TCP
//   16789-16798, sniffing renderer TCP 18889-18898, SSDP UDP 1900);
// - otherwise (a change refused, a state that cannot be read, a direction
//   other than "in", a rule name the firewall cannot take): failure, so that
//   the user is asked to allow the program by hand.
// Rules on Linux are by port, not by program.
#include <string>

#include "host/firewall_backend.h"

namespace tavrin {

class LinuxFirewallBackend : public FirewallBackend {
 public:
  bool ensureRule(const std::string& ruleName, const std::string& direction) override;
};

}  // namespace tavrin
