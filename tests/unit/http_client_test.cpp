#include <gtest/gtest.h>

#include <chrono>

#include "fixtures/scripted_http_server.h"
#include "httpclient/cookies.h"
#include "httpclient/http_request.h"
#include "httpclient/request_headers.h"
#include "httpclient/url_parts.h"

namespace tavrin {
namespace {

using testing::RecordedRequest;
using testing::ScriptedHttpServer;

TEST(UrlParts, SplitsHostPortAndPath) {
  struct Case {
    std::string url, host, hostWithPort;
    int port;
    std::string path;
  };
  const Case cases[] = {
      {"HTTP://10.0.0.7:18889/Description.xml", "10.0.0.7", "10.0.0.7:18889", 18889, "/Description.xml"},
      {"10.0.0.7:16789/1", "10.0.0.7", "10.0.0.7:16789", 16789, "/1"},
      {"https://10.0.0.7/x", "10.0.0.7", "10.0.0.7", 443, "/x"},
      {"http://10.0.0.7", "10.0.0.7", "10.0.0.7", 80, "/"},
      {"http://TV.local:8080/a/B?q=1&r=/x#f", "tv.local", "tv.local:8080", 8080, "/a/B?q=1&r=/x#f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(urlHost(c.url, false), c.host) << c.url;
    EXPECT_EQ(urlHost(c.url, true), c.hostWithPort) << c.url;
    EXPECT_EQ(urlPort(c.url), c.port) << c.url;
    EXPECT_EQ(urlPath(c.url), c.path) << c.url;
  }
}

TEST(RequestHeaders, CompletesTheBlockInOrder) {
  const std::string url = "http://10.0.0.7/x";
  EXPECT_EQ(completeRequestHeaders("", url, ""),
            "Accept: */*\r\nReferer: http://10.0.0.7/x\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded");
  // "Accept-Language:" does not contain "Accept:".
  EXPECT_EQ(completeRequestHeaders("Accept-Language: en", url, ""),
            "Accept-Language: en\r\nAccept: */*\r\nReferer: http://10.0.0.7/x\r\n"
            "Content-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(completeRequestHeaders("Content-Type: text/xml\r\nSOAPAction: \"a#b\"", url, "a=1"),
            "Content-Type: text/xml\r\nSOAPAction: \"a#b\"\r\nAccept: */*\r\nReferer: http://10.0.0.7/x\r\n"
            "Accept-Language: zh-cn\r\nCookie: a=1");
  EXPECT_EQ(completeRequestHeaders("Accept: x\r\nReferer: r\r\nAccept-Language: l\r\nContent-Type: t", url,
                                   "Cookie: a=1"),
            "Accept: x\r\nReferer: r\r\nAccept-Language: l\r\nContent-Type: t\r\nCookie: a=1");
}

TEST(RequestHeaders, ChoosesTheAgent) {
  EXPECT_EQ(requestAgent(""), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
  EXPECT_EQ(requestAgent("Accept: */*\r\nUser-Agent:  Tavrin/1.2 \r\nX: y"), "Tavrin/1.2");
  EXPECT_EQ(requestAgent("user-agent: X"), "X");
  // Found without regard to case, but taken from the block's first colon.
  EXPECT_EQ(requestAgent("Accept: a\r\nuser-agent: X"), "a\r\nuser-agent: X");
}

TEST(Cookies, CollectsAndMerges) {
  EXPECT_EQ(collectSetCookies("HTTP/1.1 200 OK\r\nSet-Cookie: sid=1; Path=/\r\nSet-Cookie: lang=zh\r\n\r\n"),
            "sid=1; lang=zh");
  EXPECT_EQ(collectSetCookies("HTTP/1.1 200 OK\r\nX: y\r\n\r\n"), "");
  EXPECT_EQ(mergeCookies("a=1; b=2", "b=3; c=deleted"), "b=3; a=1");
  EXPECT_EQ(mergeCookies("", "sid=1; lang=zh; sid=1"), "sid=1; lang=zh");
  EXPECT_EQ(mergeCookies("a=1", ""), "a=1");
  EXPECT_EQ(mergeCookies("a = x y; flag", "flag; b=2"), "flag; b=2; a=xy");
}

// A device's answer may carry a large header block: it is split into lines
// in one walk, not one search from its start per line.
TEST(Cookies, ALargeHeaderBlockIsReadInLinearTime) {
  std::string headers = "HTTP/1.1 200 OK\r\nSet-Cookie: first=1; Path=/\r\n";
  for (int i = 0; i < 50000; ++i) headers += "X-Filler: y\r\n";
  headers += "Set-Cookie: last=2\r\n\r\n";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(collectSetCookies(headers), "first=1; last=2");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

class HttpRequestTest : public ::testing::Test {
 protected:
  std::string reply_ = ScriptedHttpServer::answer("hello");
  ScriptedHttpServer server_{[this](const RecordedRequest&) { return reply_; }};
};

TEST_F(HttpRequestTest, GetSendsTheDefaultBlockInOrder) {
  ASSERT_TRUE(server_.listening());
  std::string url = server_.url("/Description.xml?a=1");
  HttpExchange exchange;
  exchange.method = 7;
  exchange.body = "never sent";
  EXPECT_EQ(httpRequest(url, exchange), "hello");
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].raw,
            "GET /Description.xml?a=1 HTTP/1.1\r\n"
            "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n"
            "Accept: */*\r\n"
            "Referer: " + url + "\r\n"
            "Accept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n\r\n");
  EXPECT_EQ(exchange.headers, "Accept: */*\r\nReferer: " + url +
                                  "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(exchange.returnedHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n");
}

TEST_F(HttpRequestTest, PostSendsTheBodyWithTheCallersHeaders) {
  std::string url = server_.url("/ctl");
  HttpExchange exchange;
  exchange.method = kHttpPost;
  exchange.headers = "Content-Type: text/xml; charset=\"utf-8\"\r\nSOAPAction: \"urn:x#Play\"";
  exchange.body = std::string(3000, 'b');
  EXPECT_EQ(httpRequest(url, exchange), "hello");
  EXPECT_EQ(exchange.bodyBytes, exchange.body);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].raw,
            "POST /ctl HTTP/1.1\r\n"
            "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n"
            "Content-Type: text/xml; charset=\"utf-8\"\r\n"
            "SOAPAction: \"urn:x#Play\"\r\n"
            "Accept: */*\r\n"
            "Referer: " + url + "\r\n"
            "Accept-Language: zh-cn\r\n"
            "Content-Length: 3000\r\n\r\n" + exchange.body);
}

TEST_F(HttpRequestTest, HeadReturnsNoBody) {
  HttpExchange exchange;
  exchange.method = kHttpHead;
  exchange.headers = "User-Agent: Tavrin";
  EXPECT_EQ(httpRequest(server_.url("/1"), exchange), "");
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].method(), "HEAD");
  EXPECT_NE(server_.requests()[0].head.find("\r\nUser-Agent: Tavrin\r\n"), std::string::npos);
  EXPECT_EQ(exchange.returnedHeaders.substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(HttpRequestTest, ReturnsErrorBodiesAndCollectsCookies) {
  reply_ = ScriptedHttpServer::answer("gone", "set-cookie: sid=7f; Path=/\r\nSET-COOKIE: lang=zh\r\n",
                                      "404 Not Found");
  HttpExchange exchange;
  exchange.cookies = "a=1; sid=0";
  EXPECT_EQ(httpRequest(server_.url("/x"), exchange), "gone");
  EXPECT_NE(server_.requests()[0].head.find("\r\nCookie: a=1; sid=0\r\n"), std::string::npos);
  EXPECT_NE(exchange.returnedHeaders.find("Set-Cookie: sid=7f; Path=/\r\nSet-Cookie: lang=zh\r\n"),
            std::string::npos);
  EXPECT_EQ(exchange.returnedCookies, "sid=7f; lang=zh; a=1");
  EXPECT_EQ(exchange.cookies, "sid=7f; lang=zh; a=1");
}

TEST_F(HttpRequestTest, FollowsRedirectsUnlessToldNot) {
  ScriptedHttpServer target([](const RecordedRequest&) { return ScriptedHttpServer::answer("moved here"); });
  reply_ = ScriptedHttpServer::answer("", "Location: " + target.url("/new") + "\r\n", "302 Found");
  EXPECT_EQ(httpRequest(server_.url("/old")), "moved here");
  HttpExchange exchange;
  exchange.noRedirect = true;
  EXPECT_EQ(httpRequest(server_.url("/old"), exchange), "");
  EXPECT_EQ(exchange.returnedHeaders.substr(0, 18), "HTTP/1.1 302 Found");
  EXPECT_EQ(target.requests().size(), 1u);
}

TEST_F(HttpRequestTest, LongHeaderBlocksLeaveSpaces) {
  reply_ = ScriptedHttpServer::answer("body", "X-Long: " + std::string(6000, 'x') + "\r\nSet-Cookie: a=1\r\n");
  HttpExchange exchange;
  EXPECT_EQ(httpRequest(server_.url("/"), exchange), "body");
  EXPECT_EQ(exchange.returnedHeaders, std::string(kRawHeaderBuffer, ' '));
  EXPECT_EQ(exchange.returnedCookies, "");
}

TEST(HttpRequestFailure, RefusedConnectionGivesNothingButTheSentCookies) {
  int closedPort = 0;
  {
    ScriptedHttpServer gone([](const RecordedRequest&) { return std::string(); });
    closedPort = gone.port();
  }
  HttpExchange refused;
  refused.cookies = "a=1";
  EXPECT_EQ(httpRequest("http://127.0.0.1:" + std::to_string(closedPort) + "/", refused), "");
  EXPECT_EQ(refused.returnedHeaders, std::string(kRawHeaderBuffer, ' '));
  EXPECT_EQ(refused.returnedCookies, "a=1");
}

TEST_F(HttpRequestTest, StopsReadingAnEndlessBodyAtTheCap) {
  std::string big(kMaxResponseBody + 4096, 'z');
  reply_ = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big;
  std::string body = httpRequest(server_.url("/endless"));
  EXPECT_EQ(body.size(), kMaxResponseBody);
}

TEST(ProxyText, PrefixesPlainHttp) {
  EXPECT_EQ(proxyText("10.0.0.1:3128", false), "http=10.0.0.1:3128");
  EXPECT_EQ(proxyText("10.0.0.1:3128", true), "10.0.0.1:3128");
}

TEST(HttpRequestProxy, GoesThroughTheProxy) {
  ScriptedHttpServer proxy([](const RecordedRequest&) { return ScriptedHttpServer::answer("via proxy"); });
  HttpExchange exchange;
  exchange.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  EXPECT_EQ(httpRequest("http://192.0.2.1:8080/x", exchange), "via proxy");
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].path(), "http://192.0.2.1:8080/x");
}

}  // namespace
}  // namespace tavrin
