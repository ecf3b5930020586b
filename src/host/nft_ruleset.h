#pragma once
// Reading the listing of `nft -a list ruleset` far enough to know whether
// incoming traffic is filtered and where rules of a given comment sit.
#include <string>
#include <vector>

namespace tavrin {

struct NftRule {
  long handle = 0;
  std::string comment;  // without its quotes; empty when the rule has none
};

struct NftChain {
  std::string family;  // ip, ip6, inet, arp, bridge, netdev
  std::string table;
  std::string name;
  std::string hook;      // input, output, forward…; empty for a regular chain
  bool dropping = false;  // policy drop, or a rule that drops or rejects
  std::vector<NftRule> rules;
};

// The chains in listing order. Lines it does not understand are skipped.
std::vector<NftChain> parseNftRuleset(const std::string& listing);

// True when the chain decides what reaches the host: an IP base chain on the
// input hook that drops something.
bool filtersIncoming(const NftChain& chain);

}  // namespace tavrin
