#include "httpclient/request_headers.h"

#include "platform/gbk_text.h"
#include "platform/text_between.h"

namespace tavrin {
namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

std::string requestAgent(const std::string& headers) {
  if (findText(headers, "User-Agent:", 0, true) == kTextNotFound) {
    return "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
  }
  std::string agent = trimText(textBetween(headers + "\r\n", "User-Agent:", "\r\n"));
  if (agent.empty()) {
    size_t colon = headers.find(':');
    if (colon != std::string::npos) agent = trimText(headers.substr(colon + 1));
  }
  return agent;
}

std::string completeRequestHeaders(const std::string& headers, const std::string& url,
                                   const std::string& cookies) {
  std::string block = headers;
  if (block.empty()) {
    block = "Accept: */*";
  } else if (!contains(block, "Accept:")) {
    block += "\r\nAccept: */*";
  }
  if (!contains(block, "Referer:")) block += "\r\nReferer: " + url;
  if (!contains(block, "Accept-Language:")) block += "\r\nAccept-Language: zh-cn";
  if (!contains(block, "Content-Type:")) block += "\r\nContent-Type: application/x-www-form-urlencoded";
  if (!cookies.empty()) block += contains(cookies, "Cookie:") ? "\r\n" + cookies : "\r\nCookie: " + cookies;
  return block;
}

}  // namespace tavrin
