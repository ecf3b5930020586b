// Feeds URLs and cookie texts from the network (locations, URLBase, control
// URLs, Set-Cookie headers) to urlHost / urlPort / urlPath,
// baseUrlFromLocation, controlRequestUrl, collectSetCookies and
// mergeCookies. Checks: the host is lower case and without ":" unless the
// port is kept, and begins the host with port; the path begins with "/";
// the base URL is a prefix of the location; the request URL is the base URL
// followed by the control path; the merged cookies hold no empty, repeated
// or deleted item, and only items that were sent or received.
//
// Input: [url piece][control URL / sent cookies piece][received header bytes...]
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "control/soap_action.h"
#include "httpclient/cookies.h"
#include "httpclient/url_parts.h"
#include "ssdp/device_list_builder.h"

namespace tavrin {
namespace {

using fuzz::require;

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> splitAt(const std::string& text, const std::string& separator) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    items.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  items.push_back(text.substr(start));
  return items;
}

std::string withoutSpaces(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

void checkUrl(const std::string& url) {
  const std::string host = urlHost(url, false);
  const std::string hostAndPort = urlHost(url, true);
  require(host.find(':') == std::string::npos);
  require(startsWith(hostAndPort, host));
  require(std::none_of(hostAndPort.begin(), hostAndPort.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
  const std::string path = urlPath(url);
  require(!path.empty() && path[0] == '/');
  urlPort(url);
  require(startsWith(url, baseUrlFromLocation(url)));
}

void checkRequestUrl(const std::string& base, const std::string& control) {
  const std::string url = controlRequestUrl(base, control);
  require(startsWith(url, base));
  const std::string path = url.substr(base.size());
  require(path.size() + 1 >= control.size());
  if (base.empty() || base.back() != '/') require(!path.empty() && path[0] == '/');
}

void checkCookies(const std::string& sent, const std::string& received) {
  const std::string merged = mergeCookies(sent, received);
  if (merged.empty()) return;
  const std::vector<std::string> items = splitAt(merged, "; ");
  const std::string known = withoutSpaces(sent) + ";" + withoutSpaces(received);
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    require(!item.empty());
    require(item.size() < 8 || item.compare(item.size() - 8, 8, "=deleted") != 0);
    require(std::find(items.begin() + static_cast<long>(i) + 1, items.end(), item) == items.end());
    require(known.find(item) != std::string::npos);
  }
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const std::string url = input.ConsumeRandomLengthString(4096);
  const std::string second = input.ConsumeRandomLengthString(4096);
  const std::string headers = input.ConsumeRemainingBytesAsString();

  checkUrl(url);
  checkUrl(second);
  checkRequestUrl(url, second);
  checkRequestUrl(baseUrlFromLocation(url), second);
  const std::string received = collectSetCookies(headers);
  checkCookies(second, received);
  checkCookies(second, headers);
  return 0;
}
