#include "host/linux_firewall.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "host/nft_ruleset.h"
#include "host/shell_command.h"

namespace tavrin {
namespace {

struct PortRange {
  const char* protocol;
  int first;
  int last;
};

// Media server, sniffing renderer, SSDP.
const PortRange kProgramPorts[] = {{"tcp", 16789, 16798}, {"tcp", 18889, 18898}, {"udp", 1900, 1900}};

// The shell reports a command it cannot find with status 127.
constexpr int kCommandNotFound = 127;

enum class FirewallState { absent, inactive, active, unknown };

std::string portText(const PortRange& range, char separator) {
  std::string text = std::to_string(range.first);
  if (range.last != range.first) text += separator + std::to_string(range.last);
  return text;
}

bool hasLine(const std::string& output, const std::string& wanted) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line == wanted) return true;
  }
  return false;
}

// Letters, digits, "_", "-" and ".": a name every front-end takes as it is.
bool usableRuleName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

FirewallState ufwState() {
  ShellResult result = runShell("ufw status");
  if (result.exitStatus == kCommandNotFound) return FirewallState::absent;
  if (hasLine(result.output, "Status: active")) return FirewallState::active;
  if (hasLine(result.output, "Status: inactive")) return FirewallState::inactive;
  return FirewallState::unknown;
}

bool ufwEnsure(const std::string& ruleName) {
  std::string remove;
  std::string add;
  for (const PortRange& range : kProgramPorts) {
    std::string rule = std::string("in proto ") + range.protocol + " to any port " + portText(range, ':');
    remove += "ufw delete allow " + rule + "; ";
    if (!add.empty()) add += " && ";
    add += "ufw allow " + rule + " comment " + shellQuote(ruleName);
  }
  runShell(remove);
  return runShell(add).exitStatus == 0;
}

FirewallState firewalldState() {
  ShellResult result = runShell("firewall-cmd --state");
  if (result.exitStatus == kCommandNotFound) return FirewallState::absent;
  if (hasLine(result.output, "running")) return FirewallState::active;
  if (hasLine(result.output, "not running")) return FirewallState::inactive;
  return FirewallState::unknown;
}

// A permanent service of the rule's name carries the ports across restarts;
// the same ports are opened in the running configuration directly, because a
// reload to pick up the new service would drop others' runtime changes.
bool firewalldEnsure(const std::string& ruleName) {
  const std::string service = shellQuote(ruleName);
  std::string runtimeRemove = "firewall-cmd";
  std::string runtimeAdd = "firewall-cmd";
  std::string permanentAdd = "firewall-cmd --permanent --new-service=" + service;
  for (const PortRange& range : kProgramPorts) {
    std::string port = portText(range, '-') + "/" + range.protocol;
    runtimeRemove += " --remove-port=" + port;
    runtimeAdd += " --add-port=" + port;
    permanentAdd += " && firewall-cmd --permanent --service=" + service + " --add-port=" + port;
  }
  permanentAdd += " && firewall-cmd --permanent --add-service=" + service;
  runShell("firewall-cmd --permanent --remove-service=" + service + "; firewall-cmd --permanent --delete-service=" +
           service + "; " + runtimeRemove);
  return runShell(permanentAdd + " && " + runtimeAdd).exitStatus == 0;
}

FirewallState nftState(std::vector<NftChain>& chains) {
  ShellResult result = runShell("nft -a list ruleset");
  if (result.exitStatus == kCommandNotFound) return FirewallState::absent;
  if (result.exitStatus != 0) return FirewallState::unknown;
  chains = parseNftRuleset(result.output);
  for (const NftChain& chain : chains) {
    if (filtersIncoming(chain)) return FirewallState::active;
  }
  return FirewallState::inactive;
}

std::string nftChainWords(const NftChain& chain) {
  return shellQuote(chain.family) + " " + shellQuote(chain.table) + " " + shellQuote(chain.name);
}

// Our accept rules go first in every filtering input chain: a packet must get
// through each base chain of the hook, so one table of our own would not do.
bool nftEnsure(const std::string& ruleName, const std::vector<NftChain>& chains) {
  std::string remove;
  std::string add;
  for (const NftChain& chain : chains) {
    for (const NftRule& rule : chain.rules) {
      if (rule.comment == ruleName && rule.handle > 0) {
        remove += "nft delete rule " + nftChainWords(chain) + " handle " + std::to_string(rule.handle) + "; ";
      }
    }
    if (!filtersIncoming(chain)) continue;
    for (const PortRange& range : kProgramPorts) {
      if (!add.empty()) add += " && ";
      add += "nft insert rule " + nftChainWords(chain) + " " + range.protocol + " dport " + portText(range, '-') +
             " accept comment " + shellQuote("\"" + ruleName + "\"");
    }
  }
  if (!remove.empty()) runShell(remove);
  return runShell(add).exitStatus == 0;
}

}  // namespace

bool LinuxFirewallBackend::ensureRule(const std::string& ruleName, const std::string& direction) {
  const bool canAdd = direction == "in" && usableRuleName(ruleName);
  // ufw and firewalld keep their rules in nftables too: the first active
  // front-end is the one to change.
  FirewallState ufw = ufwState();
  if (ufw == FirewallState::active) return canAdd && ufwEnsure(ruleName);
  FirewallState firewalld = firewalldState();
  if (firewalld == FirewallState::active) return canAdd && firewalldEnsure(ruleName);
  std::vector<NftChain> chains;
  FirewallState nft = nftState(chains);
  if (nft == FirewallState::active) return canAdd && nftEnsure(ruleName, chains);
  // A state that could not be read may hide a filter: the user has to check.
  return ufw != FirewallState::unknown && firewalld != FirewallState::unknown && nft != FirewallState::unknown;
}

}  // namespace tavrin
