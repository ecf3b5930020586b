#pragma once
// The one HTTP client routine: a single GET, POST or HEAD exchange, with
// header defaults, cookies and an optional proxy. The status is not examined:
// the body of an error answer is returned like any other.
#include <atomic>
#include <optional>
#include <string>

namespace tavrin {

enum HttpMethod { kHttpGet = 0, kHttpPost = 1, kHttpHead = 2 };

// Optional arguments of httpRequest; fields marked in/out receive a value.
struct HttpExchange {
  int method = kHttpGet;                // negative or above 2 means GET
  std::string body;                     // sent with POST and HEAD when bodyBytes is empty
  std::optional<std::string> cookies;   // in/out: when given, the cookie engine is off and
                                        // the merged cookie text comes back here
  std::string returnedCookies;          // out: the cookies the answer sets
  std::string headers;                  // in/out: extra header lines; receives the completed block
  std::string returnedHeaders;          // out: the raw response header block
  bool noRedirect = false;
  std::string bodyBytes;                // in/out: sent with POST and HEAD; when empty, receives body
  std::string proxy;                    // host:port; empty means a direct connection
  const std::atomic<bool>* cancel = nullptr;  // when it turns true, the exchange is given up
};

// The response body read so far when the body exceeds this many bytes.
constexpr size_t kMaxResponseBody = 8 * 1024 * 1024;

// Block size of the raw response header buffer: a block this long or longer
// is not returned.
constexpr size_t kRawHeaderBuffer = 5000;

std::string httpRequest(const std::string& url, HttpExchange& exchange);
std::string httpRequest(const std::string& url);

// The proxy text for a request: the proxy itself for https, "http=" and the
// proxy for plain http (only http requests go through it).
std::string proxyText(const std::string& proxy, bool secure);

}  // namespace tavrin
