#pragma once
// The one HTTP client routine: a single GET, POST or HEAD exchange, with
// header defaults, cookies and an optional proxy. The status is not examined:
// the body of an error answer is returned like any other.
#include <atomic>
#include <optional>
#include <string>

namespace tavrin {

enum HttpMethod { kHttpGet = 0, kHttpPost = 1, kHttpHead = 2 };

// Time limits of one exchange, in seconds. The defaults are those of the
// system the program was made for: 60 s to connect, and an answer that sends
// nothing for 30 s is given up; the total bounds a peer that drips bytes
// slowly enough to dodge the second rule.
struct HttpTimeLimits {
  long connect = 60;
  long stall = 30;
  long total = 120;
};

// Why an exchange brought no whole answer.
enum class HttpFailure {
  none,         // the answer was read to its end, whatever its status
  unreachable,  // no connection: the connect timed out or the host is unreachable
  timedOut,     // connected, but the answer stalled or ran out of time
  tooLarge,     // the body passed kMaxResponseBody and was cut there
  other,        // any other failure: refused, bad URL, protocol error, cancelled
};

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
  HttpTimeLimits limits;
  HttpFailure failure = HttpFailure::none;    // out
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
