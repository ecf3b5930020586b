#include "ssdp/header_map.h"

#include "platform/gbk_text.h"

namespace tavrin {
namespace {

// The map reads keys that begin with "//" as paths; no header is named so.
bool isPathKey(const std::string& key) { return key.compare(0, 2, "//") == 0; }

}  // namespace

void HeaderMap::parse(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = findText(text, "\r\n", start);
    if (end == kTextNotFound) end = text.size();
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
