#include "httpclient/cookies.h"

#include <algorithm>
#include <vector>

#include "platform/gbk_text.h"
#include "platform/placeholders.h"
#include "platform/text_between.h"

namespace tavrin {
namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t at : findEachText(text, separator)) {
    items.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  items.push_back(text.substr(start));
  return items;
}

std::string join(const std::vector<std::string>& items, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += separator;
    text += items[i];
  }
  return text;
}

std::string cookieName(const std::string& item) { return trimText(item.substr(0, item.find('='))); }

std::string withoutSpaces(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

}  // namespace

std::string collectSetCookies(const std::string& rawHeaders) {
  std::vector<std::string> items;
  for (const std::string& line : split(rawHeaders, "\r\n")) {
    if (line.find("Set-Cookie") == std::string::npos) continue;
    if (line.find(';') != std::string::npos) {
      items.push_back(trimText(textBetween(line, "Set-Cookie:", ";")));
    } else {
      items.push_back(trimText(replacePlaceholders(line, {{"Set-Cookie:", ""}})));
    }
  }
  return join(items, "; ");
}

std::string mergeCookies(const std::string& sent, const std::string& received) {
  std::vector<std::string> merged = split(withoutSpaces(received), ";");
  for (const std::string& item : split(withoutSpaces(sent), ";")) {
    std::string name = cookieName(item);
    bool setAgain = std::any_of(merged.begin(), merged.end(),
                                [&](const std::string& other) { return cookieName(other) == name; });
    if (!setAgain) merged.push_back(item);
  }
  std::vector<std::string> kept;
  for (const std::string& item : merged) {
    // An empty piece (an empty text, or ";;") is no cookie.
    if (item.empty()) continue;
    bool deleted = item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0;
    // Joining by "; " and splitting again at "; " gives back these items.
    if (!deleted && std::find(kept.begin(), kept.end(), item) == kept.end()) kept.push_back(item);
  }
  return join(kept, "; ");
}

}  // namespace tavrin
