#include "ssdp/header_map.h"

#include <vector>

#include "platform/gbk_text.h"

namespace tavrin {
namespace {

// The map reads keys that begin with "//" as paths; no header is named so.
bool isPathKey(const std::string& key) { return key.compare(0, 2, "//") == 0; }

}  // namespace

void HeaderMap::parse(const std::string& text) {
  // The line ends found in one walk (a search from the text's start for
  // every line would cost a datagram of many short lines its length times
  // its lines); what follows the last one is a line too.
  std::vector<size_t> ends = findEachText(text, "\r\n");
  ends.push_back(text.size());
  size_t start = 0;
  for (size_t end : ends) {
    if (start >= text.size()) break;
    std::string line = text.substr(start, end - start);
    start = end + 2;
    size_t colon = findText(line, ":");
    if (colon == kTextNotFound) continue;
    std::string key = toUpperAscii(line.substr(0, colon));
    if (isPathKey(key)) continue;
    headers_.setText(key, trimText(line.substr(colon + 1)));
  }
}

std::string HeaderMap::get(const std::string& name) const {
  std::string key = toUpperAscii(name);
  return isPathKey(key) ? std::string() : headers_.getText(key);
}

}  // namespace tavrin
