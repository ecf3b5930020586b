#include "httpclient/url_parts.h"

#include <cstdlib>

#include "platform/gbk_text.h"
#include "platform/text_between.h"

namespace tavrin {
namespace {

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string urlHost(const std::string& url, bool keepPort) {
  std::string u = lowerAscii(url);
  if (u.empty() || u.back() != '/') u += '/';
  std::string host;
  if (u.compare(0, 8, "https://") == 0) {
    host = textBetween(u, "https://", "/");
  } else {
    if (findText(u, "http://") == kTextNotFound) u = "http://" + u;
    host = textBetween(u, "http://", "/");
  }
  if (!keepPort) host = host.substr(0, host.find(':'));
  return host;
}

int urlPort(const std::string& url) {
  std::string hostAndPort = urlHost(url, true);
  size_t colon = hostAndPort.rfind(':');
  if (colon == std::string::npos) return lowerAscii(url.substr(0, 5)) == "https" ? 443 : 80;
  return std::atoi(hostAndPort.c_str() + colon + 1);
}

std::string urlPath(const std::string& url) {
  size_t hostAt = findText(url, urlHost(url, false), 0, true);
  if (hostAt == kTextNotFound) hostAt = 0;
  size_t slash = findText(url, "/", hostAt);
  return slash == kTextNotFound ? "/" : url.substr(slash);
}

}  // namespace tavrin
