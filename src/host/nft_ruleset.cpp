#include "host/nft_ruleset.h"

#include <cstdlib>
#include <sstream>

namespace tavrin {
namespace {

// Words of a line, a quoted text counting as one word with its quotes.
std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t' || c == ';')) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// Braces outside quotes: opened minus closed.
int braceBalance(const std::string& line) {
  int balance = 0;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '{') ++balance;
    if (c == '}') --balance;
  }
  return balance;
}

std::string unquote(const std::string& word) {
  if (word.size() >= 2 && word.front() == '"' && word.back() == '"') return word.substr(1, word.size() - 2);
  return word;
}

}  // namespace

std::vector<NftChain> parseNftRuleset(const std::string& listing) {
  std::vector<NftChain> chains;
  std::string family;
  std::string table;
  bool inChain = false;
  int depth = 0;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    // With -a every table, chain and rule ends in "# handle N".
    long handle = 0;
    size_t mark = line.find("# handle ");
    if (mark != std::string::npos) {
      handle = std::strtol(line.c_str() + mark + 9, nullptr, 10);
      line.erase(mark);
    }
    std::vector<std::string> words = splitWords(line);
    const int before = depth;
    depth += braceBalance(line);
    if (words.empty()) continue;
    if (before == 0 && words[0] == "table" && words.size() >= 3) {
      family = words[1];
      table = words[2];
    } else if (before == 1 && words[0] == "chain" && words.size() >= 2) {
      chains.push_back(NftChain{family, table, words[1], "", false, {}});
      inChain = true;
    } else if (before == 2 && inChain) {
      NftChain& chain = chains.back();
      if (words[0] == "type") {
        for (size_t i = 0; i + 1 < words.size(); ++i) {
          if (words[i] == "hook") chain.hook = words[i + 1];
          if (words[i] == "policy" && words[i + 1] == "drop") chain.dropping = true;
        }
      } else if (words[0] != "policy" && words[0] != "}") {
        NftRule rule;
        rule.handle = handle;
        for (size_t i = 0; i < words.size(); ++i) {
          if (words[i] == "drop" || words[i] == "reject") chain.dropping = true;
          if (words[i] == "comment" && i + 1 < words.size()) rule.comment = unquote(words[i + 1]);
        }
        chain.rules.push_back(rule);
      } else if (words[0] == "policy" && words.size() >= 2 && words[1] == "drop") {
        chain.dropping = true;
      }
    }
    if (depth <= 1) inChain = false;
  }
  return chains;
}

bool filtersIncoming(const NftChain& chain) {
  bool ipFamily = chain.family == "ip" || chain.family == "ip6" || chain.family == "inet";
  return ipFamily && chain.hook == "input" && chain.dropping;
}

}  // namespace tavrin
