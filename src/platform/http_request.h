#pragma once
// One HTTP request as a path handler of EmbeddedHttpServer sees it.
#include <string>
#include <utility>
#include <vector>

namespace tavrin {

using HttpHeaderList = std::vector<std::pair<std::string, std::string>>;

class HttpRequest {
 public:
  HttpRequest() = default;
  HttpRequest(std::string method, std::string path, HttpHeaderList headers, std::string postData,
              std::string peerAddress = std::string());

  // The request method as sent ("GET", "POST", "HEAD", ...).
  const std::string& method() const { return method_; }
  // The relative path as it stood in the request line, query string included.
  const std::string& path() const { return path_; }
  // The request body, raw bytes.
  const std::string& postData() const { return postData_; }
  // The value of the first header of that name (any case); empty when none.
  std::string header(const std::string& name) const;
  const HttpHeaderList& headers() const { return headers_; }
  // The client's address as text ("10.77.0.2"); empty when unknown.
  const std::string& peerAddress() const { return peerAddress_; }

 private:
  std::string method_;
  std::string path_;
  HttpHeaderList headers_;
  std::string postData_;
  std::string peerAddress_;
};

// ASCII case-insensitive comparison of header names.
bool headerNameEquals(const std::string& a, const std::string& b);

}  // namespace tavrin
