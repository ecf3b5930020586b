#include "ssdp/header_map.h"

#include "platform/gbk_text.h"

namespace tavrin {
namespace {

// The map reads keys that begin with "//" as paths; no header is named so.
bool isPathKey(const std::string& key) { return key.compare(0, 2, "//") == 0; }

}  // namespace

void HeaderMap::parse(const std::string& text) {
  // One walk over the characters: a CR LF ends a line where it begins a
  // character. Searching from the text's start for every line would cost a
  // datagram of many short lines its length times its lines.
  size_t start = 0;
  for (size_t at = 0; start < text.size();) {
    if (at < text.size() && text.compare(at, 2, "\r\n") != 0) {
      at += gbkCharLength(text, at);
      continue;
    }
    std::string line = text.substr(start, at - start);
    start = at + 2;
    at = start;
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
