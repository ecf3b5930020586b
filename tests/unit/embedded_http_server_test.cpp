#include "platform/embedded_http_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/raw_http_client.h"
#include "fixtures/test_server_port.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using namespace std::chrono_literals;
using testing::RawHttpConnection;
using testing::RawHttpResponse;
using testing::rawHttpExchange;

std::string get(const std::string& target, const std::string& extraHeaders = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

// A gate a handler waits at until the test opens it (or a time-out passes,
// so that a failing test cannot hang).
class Gate {
 public:
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait_for(lock, 10s, [this] { return open_; });
  }
  bool waitForWaiters(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return waiting_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int waiting_ = 0;
};

// A temporary directory with files in it, removed with everything inside.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/tavrin-http-XXXXXX";
    if (mkdtemp(name)) path_ = name;
  }
  ~TempDir() {
    for (const std::string& file : files_) unlink(file.c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  std::string write(const std::string& name, const std::string& content) {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << content;
    files_.push_back(file);
    return file;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

class EmbeddedHttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = testing::startOnFreeTestPort([this](int candidate) { return server.start(candidate); });
    ASSERT_NE(port, 0);
  }
  void TearDown() override { server.stop(); }

  EmbeddedHttpServer server;
  int port = 0;
};

TEST_F(EmbeddedHttpServerTest, HandlerGetsTheRequestAndWritesTheAnswer) {
  std::mutex mutex;
  std::string seenMethod, seenPath, seenBody, seenHeader, seenPeer;
  server.registerPathHandler(
      [&](const HttpRequest& request, HttpResponse& response) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          seenMethod = request.method();
          seenPath = request.path();
          seenBody = request.postData();
          seenHeader = request.header("soapaction");
          seenPeer = request.peerAddress();
        }
        response.setHeader("Content-Type", "text/xml");
        response.setHeader("Server", "first");
        response.setHeader("server", "second");
        response.writeText(utf8ToGbk("名字 "));
        response.writeData(std::string("\xff\x00!", 3));
        return true;
      },
      "/ctl");

  const std::string body("a\0b\xd6\xd0<x>", 7);
  const RawHttpResponse answer = rawHttpExchange(
      port, "POST /ctl?x=1&y=%20 HTTP/1.1\r\nHost: h\r\nSOAPACTION: \"urn#Play\"\r\nContent-Length: 7\r\n\r\n" + body);
  ASSERT_TRUE(answer.complete);
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.body, std::string("名字 \xff\x00!", sizeof("名字 ") - 1 + 3));
  EXPECT_EQ(answer.header("Content-Type"), "text/xml");
  EXPECT_EQ(answer.header("Server"), "second");
  EXPECT_EQ(answer.header("Content-Length"), std::to_string(answer.body.size()));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(seenMethod, "POST");
  EXPECT_EQ(seenPath, "/ctl?x=1&y=%20");
  EXPECT_EQ(seenBody, body);
  EXPECT_EQ(seenHeader, "\"urn#Play\"");
  EXPECT_EQ(seenPeer, "127.0.0.1");
}

TEST_F(EmbeddedHttpServerTest, ChunkedBodyArrivesWhole) {
  std::promise<std::string> seen;
  server.registerPathHandler(
      [&](const HttpRequest& request, HttpResponse&) {
        seen.set_value(request.postData());
        return true;
      },
      "/up");
  const RawHttpResponse answer = rawHttpExchange(
      port, "POST /up HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  EXPECT_EQ(answer.status, 200);
  auto future = seen.get_future();
  ASSERT_EQ(future.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(future.get(), "abcde");
}

TEST_F(EmbeddedHttpServerTest, RoutesByPathWithoutQueryAndFallsBackToNotFoundRoute) {
  auto answerWith = [](const std::string& text, bool result) {
    return [text, result](const HttpRequest& request, HttpResponse& response) {
      response.writeData(text + " " + request.path());
      return result;
    };
  };
  server.registerPathHandler(answerWith("one", true), "/1");
  server.registerPathHandler(answerWith("declines", false), "/declines");
  server.registerPathHandler(answerWith("old", true), "/twice");
  server.registerPathHandler(answerWith("new", true), "/twice");

  struct Case {
    const char* target;
    int status;
    const char* body;
  };
  const Case withoutFallback[] = {
      {"/1", 200, "one /1"},
      {"/1?1562297227", 200, "one /1?1562297227"},
      {"/twice", 200, "new /twice"},
      {"/1/", 404, nullptr},
      {"/10", 404, nullptr},
      {"/declines", 404, nullptr},
      {"/nothing", 404, nullptr},
  };
  auto expectRoutes = [&](const auto& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.target);
      const RawHttpResponse answer = rawHttpExchange(port, get(c.target));
      ASSERT_TRUE(answer.complete);
      EXPECT_EQ(answer.status, c.status);
      if (c.body) {
        EXPECT_EQ(answer.body, c.body);
      }
    }
  };
  expectRoutes(withoutFallback);

  server.registerPathHandler(answerWith("fallback", true), "@页面404");
  const Case withFallback[] = {
      {"/nothing?q", 200, "fallback /nothing?q"},
      {"/_urn:schemas-upnp-org:service:AVTransport_event", 200,
       "fallback /_urn:schemas-upnp-org:service:AVTransport_event"},
      {"/1", 200, "one /1"},
      {"/declines", 404, nullptr},
  };
  expectRoutes(withFallback);

  server.registerPathHandler(answerWith("declining fallback", false), "@页面404");
  EXPECT_EQ(rawHttpExchange(port, get("/nothing")).status, 404);
}

class FileServingTest : public EmbeddedHttpServerTest {
 protected:
  void SetUp() override {
    EmbeddedHttpServerTest::SetUp();
    for (int i = 0; i < 1000; ++i) content.push_back(static_cast<char>(i * 7 % 251));
    file = dir.write("film.MP4", content);
    server.registerPathHandler(
        [this](const HttpRequest&, HttpResponse& response) {
          std::lock_guard<std::mutex> lock(mutex);
          return response.sendFile(servedPath);
        },
        "/1");
    std::lock_guard<std::mutex> lock(mutex);
    servedPath = file;
  }

  TempDir dir;
  std::string content;
  std::string file;
  std::mutex mutex;
  std::string servedPath;
};

TEST_F(FileServingTest, RangesGiveTheRightStatusHeadersAndBytes) {
  struct Case {
    const char* range;  // nullptr: no Range header
    int status;
    const char* contentRange;  // nullptr: none expected
    size_t first;
    size_t length;
  };
  const Case cases[] = {
      {nullptr, 200, nullptr, 0, 1000},
      {"bytes=0-99", 206, "bytes 0-99/1000", 0, 100},
      {"bytes=0-0", 206, "bytes 0-0/1000", 0, 1},
      {"bytes=990-", 206, "bytes 990-999/1000", 990, 10},
      {"bytes=0-", 206, "bytes 0-999/1000", 0, 1000},
      {"bytes=500-999", 206, "bytes 500-999/1000", 500, 500},
      {"bytes=500-5000", 206, "bytes 500-999/1000", 500, 500},
      {"bytes=-10", 206, "bytes 990-999/1000", 990, 10},
      {"bytes=-5000", 206, "bytes 0-999/1000", 0, 1000},
      {"bytes=1000-", 416, "bytes */1000", 0, 0},
      {"bytes=-0", 416, "bytes */1000", 0, 0},
      {"bytes=0-1,5-6", 200, nullptr, 0, 1000},
      {"bytes=x-y", 200, nullptr, 0, 1000},
  };
  // All on one kept-alive connection, as a player does.
  RawHttpConnection connection(port);
  ASSERT_TRUE(connection.isOpen());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range ? c.range : "(no range)");
    const std::string extra = c.range ? std::string("Range: ") + c.range + "\r\n" : std::string();
    ASSERT_TRUE(connection.send(get("/1?1562297227", extra)));
    const RawHttpResponse answer = connection.readResponse();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.header("Accept-Ranges"), "bytes");
    EXPECT_EQ(answer.header("Content-Type"), "video/mp4");
    EXPECT_EQ(answer.hasHeader("Content-Range"), c.contentRange != nullptr);
    if (c.contentRange) {
      EXPECT_EQ(answer.header("Content-Range"), c.contentRange);
    }
    EXPECT_EQ(answer.header("Content-Length"), std::to_string(c.length));
    EXPECT_EQ(answer.body, content.substr(c.first, c.length));
  }
}

TEST_F(FileServingTest, FinishedTellsWhetherTheWholeAnswerWentOut) {
  // Far more than the socket buffers hold, so a client that leaves early
  // really cuts the answer short.
  const std::string big = dir.write("big.mp4", "");
  ASSERT_EQ(truncate(big.c_str(), 256 << 20), 0);
  std::mutex finishedMutex;
  std::condition_variable finishedChanged;
  std::vector<std::string> finished;
  server.registerPathHandler(
      [&](const HttpRequest& request, HttpResponse& response) {
        response.onFinished([&, path = request.path()](bool whole) {
          std::lock_guard<std::mutex> lock(finishedMutex);
          finished.push_back(path + (whole ? " whole" : " cut"));
          finishedChanged.notify_all();
        });
        return response.sendFile(request.path() == "/big" ? big : file);
      },
      "@页面404");
  const auto waitForFinished = [&](size_t count) {
    std::unique_lock<std::mutex> lock(finishedMutex);
    finishedChanged.wait_for(lock, 10s, [&] { return finished.size() >= count; });
    return finished;
  };

  RawHttpConnection connection(port);
  ASSERT_TRUE(connection.send(get("/small", "Range: bytes=10-19\r\n")));
  EXPECT_EQ(connection.readResponse().body, content.substr(10, 10));
  EXPECT_EQ(waitForFinished(1), std::vector<std::string>{"/small whole"});

  // Leaves once the answer has begun to arrive.
  const int leaving = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval limit{5, 0};
  setsockopt(leaving, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ASSERT_EQ(connect(leaving, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = get("/big");
  ASSERT_EQ(send(leaving, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  char start[4096];
  EXPECT_GT(recv(leaving, start, sizeof start, 0), 0);
  ::close(leaving);
  EXPECT_EQ(waitForFinished(2), (std::vector<std::string>{"/small whole", "/big cut"}));
}

TEST_F(FileServingTest, HeadSendsTheHeadersWithoutBody) {
  RawHttpConnection connection(port);
  ASSERT_TRUE(connection.send("HEAD /1 HTTP/1.1\r\nHost: h\r\n\r\n"));
  RawHttpResponse head = connection.readResponse(true);
  ASSERT_TRUE(head.complete);
  EXPECT_EQ(head.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(head.header("Content-Length"), "1000");
  EXPECT_EQ(head.header("Content-Type"), "video/mp4");
  EXPECT_EQ(head.header("Accept-Ranges"), "bytes");

  ASSERT_TRUE(connection.send("HEAD /1 HTTP/1.1\r\nHost: h\r\nRange: bytes=10-19\r\n\r\n"));
  head = connection.readResponse(true);
  EXPECT_EQ(head.status, 206);
  EXPECT_EQ(head.header("Content-Range"), "bytes 10-19/1000");
  EXPECT_EQ(head.header("Content-Length"), "10");

  // Had a body followed either HEAD, it would stand where this answer does.
  ASSERT_TRUE(connection.send(get("/1", "Range: bytes=0-3\r\n")));
  const RawHttpResponse next = connection.readResponse();
  ASSERT_TRUE(next.complete);
  EXPECT_EQ(next.statusLine, "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(next.body, content.substr(0, 4));
}

TEST_F(FileServingTest, MissingOrUnreadableFileIsNotSent) {
  struct Case {
    std::string path;
    const char* why;
  };
  const Case cases[] = {
      {dir.path() + "/gone.mp4", "missing"},
      {dir.path(), "a directory"},
      {"", "empty path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    HttpResponse response;
    EXPECT_FALSE(response.sendFile(c.path));
    {
      std::lock_guard<std::mutex> lock(mutex);
      servedPath = c.path;
    }
    EXPECT_EQ(rawHttpExchange(port, get("/1")).status, 404);
  }
}

TEST_F(FileServingTest, FileIsTheOneSelectedWhenTheRequestArrives) {
  const std::string second = dir.write("second.m3u8", "#EXTM3U\n");
  const RawHttpResponse first = rawHttpExchange(port, get("/1?1"));
  {
    std::lock_guard<std::mutex> lock(mutex);
    servedPath = second;
  }
  const RawHttpResponse later = rawHttpExchange(port, get("/1?1"));
  EXPECT_EQ(first.body, content);
  EXPECT_EQ(later.body, "#EXTM3U\n");
  EXPECT_EQ(later.header("Content-Type"), "application/vnd.apple.mpegurl");
}

TEST_F(FileServingTest, FailedSendFileCancelsAPendingFile) {
  server.registerPathHandler(
      [this](const HttpRequest&, HttpResponse& response) {
        response.writeData("text instead");
        EXPECT_TRUE(response.sendFile(file));
        EXPECT_FALSE(response.sendFile(""));
        return true;
      },
      "/cancel");
  const RawHttpResponse answer = rawHttpExchange(port, get("/cancel"));
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, "text instead");
}

TEST_F(EmbeddedHttpServerTest, LargeBodiesAreRefusedWithoutReadingThem) {
  std::atomic<int> calls{0};
  std::atomic<size_t> largestSeen{0};
  server.registerPathHandler(
      [&](const HttpRequest& request, HttpResponse&) {
        ++calls;
        largestSeen = std::max(largestSeen.load(), request.postData().size());
        return true;
      },
      "/post");
  constexpr size_t kLimit = 1024 * 1024;

  // Announced too large: refused before any body byte is sent.
  RawHttpConnection announced(port);
  ASSERT_TRUE(announced.send("POST /post HTTP/1.1\r\nHost: h\r\nContent-Length: 2097152\r\n\r\n"));
  const RawHttpResponse refused = announced.readResponse();
  EXPECT_EQ(refused.status, 413);
  EXPECT_EQ(refused.header("Connection"), "close");
  EXPECT_TRUE(announced.waitForClose(2s));

  RawHttpConnection expecting(port);
  ASSERT_TRUE(expecting.send(
      "POST /post HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 99999999999\r\n\r\n"));
  EXPECT_EQ(expecting.readResponse().status, 413);

  // Chunked past the limit: the answer comes once the body has ended.
  RawHttpConnection chunked(port);
  ASSERT_TRUE(chunked.send("POST /post HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"));
  const std::string piece(64 * 1024, 'x');
  char sizeLine[32];
  snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", piece.size());
  bool sent = true;
  for (size_t total = 0; total <= kLimit && sent; total += piece.size()) {
    sent = chunked.send(sizeLine + piece + "\r\n");
  }
  if (sent) chunked.send("0\r\n\r\n");
  const RawHttpResponse chunkedAnswer = chunked.readResponse();
  EXPECT_EQ(chunkedAnswer.status, 413);
  EXPECT_EQ(chunkedAnswer.header("Connection"), "close");
  EXPECT_EQ(calls.load(), 0);

  // Exactly at the limit: taken.
  const RawHttpResponse taken = rawHttpExchange(
      port, "POST /post HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(kLimit) + "\r\n\r\n" +
                std::string(kLimit, 'y'));
  EXPECT_EQ(taken.status, 200);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(largestSeen.load(), kLimit);
}

TEST_F(EmbeddedHttpServerTest, BlockingHandlersDoNotStopOtherConnections) {
  Gate gate;
  server.registerPathHandler(
      [&](const HttpRequest&, HttpResponse& response) {
        gate.wait();
        response.writeData("late");
        return true;
      },
      "/block");
  server.registerPathHandler(
      [](const HttpRequest&, HttpResponse& response) {
        response.writeData("quick");
        return true;
      },
      "/quick");

  // A player's connection, kept alive from before the handlers block.
  RawHttpConnection kept(port);
  ASSERT_TRUE(kept.send(get("/quick")));
  ASSERT_EQ(kept.readResponse().body, "quick");

  // More blocked handlers than the server has network threads.
  constexpr int kBlocked = 8;
  std::vector<RawHttpConnection> blocked;
  for (int i = 0; i < kBlocked; ++i) {
    blocked.emplace_back(port, 15s);
    ASSERT_TRUE(blocked.back().send(get("/block")));
  }
  ASSERT_TRUE(gate.waitForWaiters(kBlocked));

  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(kept.send(get("/quick")));
  EXPECT_EQ(kept.readResponse().body, "quick");
  for (int i = 0; i < 8; ++i) {
    const RawHttpResponse answer = rawHttpExchange(port, get("/quick"));
    EXPECT_EQ(answer.body, "quick");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);

  gate.open();
  for (RawHttpConnection& connection : blocked) {
    const RawHttpResponse answer = connection.readResponse();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "late");
  }
}

TEST_F(EmbeddedHttpServerTest, HandlerThatThrowsGivesServerError) {
  server.registerPathHandler([](const HttpRequest&, HttpResponse&) -> bool { throw std::runtime_error("x"); },
                             "/throws");
  EXPECT_EQ(rawHttpExchange(port, get("/throws")).status, 500);
  EXPECT_EQ(rawHttpExchange(port, get("/other")).status, 404);
}

TEST_F(EmbeddedHttpServerTest, RestartsOnTheSamePortAndRefusesATakenOne) {
  server.registerPathHandler(
      [](const HttpRequest&, HttpResponse& response) {
        response.writeData("ok");
        return true;
      },
      "/ok");
  EXPECT_TRUE(server.isRunning());
  EXPECT_EQ(server.port(), port);

  EmbeddedHttpServer other;
  EXPECT_FALSE(other.start(port));
  EXPECT_FALSE(other.isRunning());

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    // The server closes first, leaving its side of the connection in TIME_WAIT.
    const RawHttpResponse answer = rawHttpExchange(port, get("/ok", "Connection: close\r\n"));
    EXPECT_EQ(answer.body, "ok");
    EXPECT_EQ(answer.header("Connection"), "close");
    RawHttpConnection idle(port);
    ASSERT_TRUE(idle.isOpen());

    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_TRUE(idle.waitForClose(2s));
    EXPECT_FALSE(RawHttpConnection(port).isOpen());
    ASSERT_TRUE(server.start(port));
    EXPECT_TRUE(server.isRunning());
  }
  EXPECT_EQ(rawHttpExchange(port, get("/ok")).body, "ok");
}

TEST_F(EmbeddedHttpServerTest, StoppingWithAHandlerStillRunningReturnsAndClosesItsConnection) {
  Gate gate;
  std::atomic<bool> handlerDone{false};
  server.registerPathHandler(
      [&](const HttpRequest&, HttpResponse& response) {
        gate.wait();
        response.writeData("too late");
        handlerDone = true;
        return true;
      },
      "/block");
  RawHttpConnection waiting(port);
  ASSERT_TRUE(waiting.send(get("/block")));
  ASSERT_TRUE(gate.waitForWaiters(1));

  const auto began = std::chrono::steady_clock::now();
  server.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - began, 4s);
  EXPECT_FALSE(server.isRunning());
  EXPECT_TRUE(waiting.waitForClose(2s));

  gate.open();
  for (int i = 0; i < 200 && !handlerDone; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(handlerDone);
  ASSERT_TRUE(server.start(port));
}

TEST(EmbeddedHttpServerConfigTest, TakesThePortFromTheConfiguration) {
  struct Case {
    const char* why;
    std::function<KeyValueMap(int port)> config;
  };
  const Case cases[] = {
      {"GBK key, integer", [](int port) { return KeyValueMap::createMapFromPairs({{utf8ToGbk("端口"), port}}); }},
      {"UTF-8 key, integer", [](int port) { return KeyValueMap::createMapFromPairs({{"端口", port}}); }},
      {"GBK key, decimal text",
       [](int port) { return KeyValueMap::createMapFromPairs({{utf8ToGbk("端口"), std::to_string(port)}}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EmbeddedHttpServer server;
    const int port = testing::startOnFreeTestPort([&](int candidate) { return server.start(c.config(candidate)); });
    ASSERT_NE(port, 0);
    EXPECT_TRUE(server.isRunning());
    EXPECT_EQ(server.port(), port);
    EXPECT_TRUE(RawHttpConnection(port).isOpen());
  }

  const KeyValueMap refused[] = {
      KeyValueMap(),
      KeyValueMap::createMapFromPairs({{utf8ToGbk("端口"), "none"}}),
      KeyValueMap::createMapFromPairs({{utf8ToGbk("端口"), 0}}),
      KeyValueMap::createMapFromPairs({{utf8ToGbk("端口"), 70000}}),
      KeyValueMap::createMapFromPairs({{"port", 20000}}),
  };
  for (const KeyValueMap& config : refused) {
    SCOPED_TRACE(config.toJson());
    EmbeddedHttpServer server;
    EXPECT_FALSE(server.start(config));
    EXPECT_FALSE(server.isRunning());
  }
}

TEST_F(EmbeddedHttpServerTest, DestroyingARunningServerStopsIt) {
  auto second = std::make_unique<EmbeddedHttpServer>();
  const int secondPort = testing::startOnFreeTestPort([&](int candidate) { return second->start(candidate); });
  ASSERT_NE(secondPort, 0);
  RawHttpConnection idle(secondPort);
  ASSERT_TRUE(idle.isOpen());
  second.reset();
  EXPECT_TRUE(idle.waitForClose(2s));
  EXPECT_FALSE(RawHttpConnection(secondPort).isOpen());
}

TEST_F(EmbeddedHttpServerTest, ManyIdleConnectionsLeaveRoomForMore) {
  constexpr int kIdle = 1000;
  // Each connection costs two descriptors here: the client's and the server's.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlim_t needed = 2 * kIdle + 256;
  if (limit.rlim_cur < needed) {
    if (limit.rlim_max < needed) GTEST_SKIP() << "the hard descriptor limit is below " << needed;
    limit.rlim_cur = needed;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  server.registerPathHandler(
      [](const HttpRequest&, HttpResponse& response) {
        response.writeData("ok");
        return true;
      },
      "/ok");

  // Half of them idle after a request, half idle before sending anything.
  std::vector<RawHttpConnection> idle;
  idle.reserve(kIdle);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  for (int i = 0; i < kIdle && std::chrono::steady_clock::now() < deadline; ++i) {
    idle.emplace_back(port);
    ASSERT_TRUE(idle.back().isOpen()) << "connection " << i;
    if (i % 2 == 0) {
      ASSERT_TRUE(idle.back().send(get("/ok")));
      ASSERT_EQ(idle.back().readResponse().body, "ok") << "connection " << i;
    }
  }
  ASSERT_EQ(idle.size(), static_cast<size_t>(kIdle));

  const RawHttpResponse fresh = rawHttpExchange(port, get("/ok"));
  EXPECT_EQ(fresh.body, "ok");
  for (int i : {0, 1, kIdle / 2, kIdle - 2, kIdle - 1}) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(idle[i].send(get("/ok")));
    EXPECT_EQ(idle[i].readResponse().body, "ok");
  }
}

TEST_F(EmbeddedHttpServerTest, ClosingConnectionsSayConnectionClose) {
  const RawHttpResponse http10 = rawHttpExchange(port, "GET /x HTTP/1.0\r\n\r\n");
  EXPECT_EQ(http10.status, 404);
  EXPECT_EQ(http10.header("Connection"), "close");

  RawHttpConnection asked(port);
  ASSERT_TRUE(asked.send(get("/x", "Connection: close\r\n")));
  EXPECT_EQ(asked.readResponse().header("Connection"), "close");
  EXPECT_TRUE(asked.waitForClose(2s));

  RawHttpConnection kept(port);
  ASSERT_TRUE(kept.send(get("/x")));
  const RawHttpResponse keptAnswer = kept.readResponse();
  EXPECT_NE(keptAnswer.header("Connection"), "close");
  EXPECT_FALSE(kept.waitForClose(300ms));
}

TEST_F(EmbeddedHttpServerTest, BrokenRequestsGetAnErrorStatus) {
  std::atomic<bool> called{false};
  server.registerPathHandler(
      [&](const HttpRequest&, HttpResponse&) {
        called = true;
        return true;
      },
      "@页面404");
  const std::string cases[] = {
      "GET /\r\n\r\n",
      "GET / HTTP/9.9\r\nHost: h\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\r\nNo colon here\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\r\nX-Long: " + std::string(200000, 'a') + "\r\n\r\n",
      "GET /" + std::string(200000, 'p') + " HTTP/1.1\r\nHost: h\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: abc\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello",
      "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n",
  };
  for (const std::string& request : cases) {
    SCOPED_TRACE(request.substr(0, 60));
    const RawHttpResponse answer = rawHttpExchange(port, request);
    EXPECT_TRUE(answer.complete);
    EXPECT_GE(answer.status, 400);
    EXPECT_LT(answer.status, 600);
  }
  // A request line without any space is not HTTP at all: the library closes
  // such a connection without an answer.
  for (const char* request : {"garbage\r\n\r\n", "GET\r\n\r\n"}) {
    SCOPED_TRACE(request);
    RawHttpConnection connection(port);
    ASSERT_TRUE(connection.send(request));
    EXPECT_TRUE(connection.waitForClose(2s));
  }
  EXPECT_FALSE(called);
  const RawHttpResponse good = rawHttpExchange(port, get("/"));
  EXPECT_EQ(good.status, 200);
  EXPECT_TRUE(called);
}

}  // namespace
}  // namespace tavrin
