#include "httpclient/http_request.h"

#include <curl/curl.h>

#include <cerrno>
#include <memory>

#include "httpclient/cookies.h"
#include "httpclient/request_headers.h"
#include "httpclient/url_parts.h"
#include "platform/gbk_text.h"
#include "platform/placeholders.h"

namespace tavrin {
namespace {

constexpr long kMaxRedirects = 10;

const char* const kVerbs[] = {"GET", "POST", "HEAD"};

struct CurlCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;
using CurlList = std::unique_ptr<curl_slist, CurlCleanup>;

bool curlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

struct Received {
  std::string body;
  std::string headers;  // the final answer's status line and header lines
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* received = static_cast<Received*>(user);
  size_t length = size * count;
  size_t room = kMaxResponseBody - received->body.size();
  received->body.append(data, length < room ? length : room);
  return length <= room ? length : 0;  // 0 ends the exchange at the cap
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* received = static_cast<Received*>(user);
  size_t length = size * count;
  // A new status line starts the next answer (after a redirect or a 100).
  if (length >= 5 && std::string(data, 5) == "HTTP/") received->headers.clear();
  if (received->headers.size() < kRawHeaderBuffer) received->headers.append(data, length);
  return length;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel->load() ? 1 : 0;
}

HttpFailure failureOf(CURL* handle, CURLcode result, const std::string& body) {
  if (result == CURLE_OK) return HttpFailure::none;
  if (result == CURLE_WRITE_ERROR && body.size() >= kMaxResponseBody) return HttpFailure::tooLarge;
  if (result == CURLE_OPERATION_TIMEDOUT) {
    curl_off_t connected = 0;
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
    return connected > 0 ? HttpFailure::timedOut : HttpFailure::unreachable;
  }
  if (result == CURLE_COULDNT_CONNECT) {
    long error = 0;
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &error);
    return error == ECONNREFUSED ? HttpFailure::other : HttpFailure::unreachable;
  }
  return HttpFailure::other;
}

CurlList headerList(const std::string& block) {
  curl_slist* list = nullptr;
  size_t start = 0;
  while (start <= block.size()) {
    size_t end = block.find("\r\n", start);
    if (end == std::string::npos) end = block.size();
    std::string line = block.substr(start, end - start);
    if (!line.empty()) list = curl_slist_append(list, line.c_str());
    start = end + 2;
  }
  // No "Expect: 100-continue": renderers often never answer it.
  list = curl_slist_append(list, "Expect:");
  return CurlList(list);
}

// The proxy for the HTTP library: "http=" selects plain http requests, which
// are the only ones such a text is made for.
std::string curlProxy(const std::string& text) {
  std::string hostPort = text.compare(0, 5, "http=") == 0 ? text.substr(5) : text;
  return "http://" + hostPort;
}

}  // namespace

std::string proxyText(const std::string& proxy, bool secure) {
  return secure ? proxy : "http=" + proxy;
}

std::string httpRequest(const std::string& url) {
  HttpExchange exchange;
  return httpRequest(url, exchange);
}

std::string httpRequest(const std::string& url, HttpExchange& exchange) {
  int method = exchange.method < 0 || exchange.method > 2 ? kHttpGet : exchange.method;
  bool secure = toUpperAscii(url.substr(0, 8)) == "HTTPS://";
  std::string agent = requestAgent(exchange.headers);
  exchange.failure = HttpFailure::other;
  if (!curlReady()) return {};
  CurlHandle curl(curl_easy_init());
  if (!curl) return {};

  std::string target = (secure ? "https://" : "http://") + urlHost(url, true) + urlPath(url);
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, target.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, exchange.limits.connect);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, exchange.limits.stall);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, exchange.limits.total);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, exchange.noRedirect ? 0L : 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  std::string proxy;
  if (!exchange.proxy.empty()) {
    proxy = curlProxy(proxyText(exchange.proxy, secure));
    curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str());
  } else {
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
  }
  // Without cookies of the caller's own, cookies live for this exchange only
  // (across its redirects); with them, the library keeps none.
  if (!exchange.cookies) curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");

  std::string sentCookies = exchange.cookies.value_or("");
  exchange.headers = completeRequestHeaders(exchange.headers, url, sentCookies);
  CurlList headers = headerList(exchange.headers);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

  if (method == kHttpGet) {
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  } else {
    if (exchange.bodyBytes.empty()) exchange.bodyBytes = exchange.body;
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, exchange.bodyBytes.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(exchange.bodyBytes.size()));
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, kVerbs[method]);
    if (method == kHttpHead) curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  }

  if (exchange.cancel) {
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, exchange.cancel);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  }

  Received received;
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &received);
  exchange.failure = failureOf(handle, curl_easy_perform(handle), received.body);

  exchange.returnedHeaders = received.headers.empty() || received.headers.size() >= kRawHeaderBuffer
                                 ? std::string(kRawHeaderBuffer, ' ')
                                 : replacePlaceholders(received.headers, {{"Set-Cookie", "Set-Cookie"}});
  exchange.returnedCookies = collectSetCookies(exchange.returnedHeaders);
  if (exchange.cookies) {
    exchange.returnedCookies = mergeCookies(sentCookies, exchange.returnedCookies);
    exchange.cookies = exchange.returnedCookies;
  }
  return received.body;
}

}  // namespace tavrin
