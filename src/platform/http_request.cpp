#include "platform/http_request.h"

#include <cctype>

namespace tavrin {

HttpRequest::HttpRequest(std::string method, std::string path, HttpHeaderList headers,
                         std::string postData, std::string peerAddress)
    : method_(std::move(method)),
      path_(std::move(path)),
      headers_(std::move(headers)),
      postData_(std::move(postData)),
      peerAddress_(std::move(peerAddress)) {}

std::string HttpRequest::header(const std::string& name) const {
  for (const auto& entry : headers_) {
    if (headerNameEquals(entry.first, name)) return entry.second;
  }
  return std::string();
}

bool headerNameEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace tavrin
