#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "fixtures/capture_recorder.h"
#include "fixtures/raw_http_client.h"
#include "httpserv/renderer_documents.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/local_addresses.h"
#include "platform/placeholders.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using testing::Captures;
using testing::RawHttpConnection;
using testing::RawHttpResponse;
using testing::rawHttpExchange;

const char kAvTransport[] = "urn:schemas-upnp-org:service:AVTransport:1";
const char kControl[] = "/_urn:schemas-upnp-org:service:AVTransport_control";

// The answer the renderer must give, written out independently of the code.
std::string expectedAnswer(const std::string& action, const std::string& elements,
                           const std::string& serviceType = kAvTransport) {
  return "<?xml version=\"1.0\"?>\r\n"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">  \r\n"
         "  <s:Body> \r\n"
         "    <u:" + action + "Response xmlns:u=\"" + serviceType + "\">" + elements + "</u:" + action +
         "Response> \r\n"
         "  </s:Body> \r\n"
         "</s:Envelope>\r\n"
         "\r\n";
}

std::string mediaInfoElements(const std::string& currentUri) {
  return "<NrTracks>0</NrTracks><MediaDuration>00:00:00</MediaDuration><CurrentURI>" + currentUri +
         "</CurrentURI><CurrentURIMetaData></CurrentURIMetaData><NextURI>NOT_IMPLEMENTED</NextURI>"
         "<NextURIMetaData>NOT_IMPLEMENTED</NextURIMetaData><PlayMedium>NONE</PlayMedium>"
         "<RecordMedium>NOT_IMPLEMENTED</RecordMedium><WriteStatus>NOT_IMPLEMENTED</WriteStatus>";
}

std::string transportInfoElements(const std::string& state) {
  return "<CurrentTransportState>" + state +
         "</CurrentTransportState><CurrentTransportStatus>OK</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>";
}

TEST(BuildActionResponse, EnvelopeBytes) {
  EXPECT_EQ(buildActionResponse("Play", kAvTransport, "{}"), expectedAnswer("Play", ""));
  EXPECT_EQ(buildActionResponse("GetTransportInfo", kAvTransport,
                                R"({"CurrentTransportState":"PLAYING","CurrentTransportStatus":"OK","CurrentSpeed":"1"})"),
            expectedAnswer("GetTransportInfo", transportInfoElements("PLAYING")));
  // No action name: the element is u:Response.
  const std::string empty = buildActionResponse("", kAvTransport, "{}");
  EXPECT_EQ(empty, expectedAnswer("", ""));
  EXPECT_NE(empty.find("    <u:Response xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\"></u:Response> \r\n"),
            std::string::npos);
  // The template is 266 bytes: 34 of them are the placeholders.
  EXPECT_EQ(buildActionResponse("", "", "{}").size(), 266u - 12 - 7 - 9);
  // Values go in as they are (the caller escapes), keys in their order.
  EXPECT_EQ(buildActionResponse("X", "t", R"({"b":"1&amp;2","a":""})"), expectedAnswer("X", "<b>1&amp;2</b><a></a>", "t"));
  EXPECT_EQ(buildActionResponse("X", "t", "not json"), expectedAnswer("X", "", "t"));
}

// Tests of this file use the renderer's fixed ports 18889-18898; when test
// programs run in parallel they take turns.
class RendererPortsLock {
 public:
  RendererPortsLock() : fd_(::open("/tmp/tavrin-renderer-ports.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (fd_ >= 0 && !held_ && std::chrono::steady_clock::now() < deadline) {
      held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
      if (!held_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~RendererPortsLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  RendererPortsLock(const RendererPortsLock&) = delete;
  RendererPortsLock& operator=(const RendererPortsLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// A listening TCP socket on 127.0.0.1:port. Connections of earlier tests may
// linger in TIME_WAIT on the port, hence SO_REUSEADDR.
class Listener {
 public:
  explicit Listener(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) ::listen(fd_, 4);
  }
  ~Listener() { ::close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

 private:
  int fd_;
};

std::string soapBody(const std::string& action, const std::string& arguments, const std::string& prefix = "u") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><" +
         prefix + ":" + action + " xmlns:" + prefix + "=\"" + kAvTransport + "\"><InstanceID>0</InstanceID>" +
         arguments + "</" + prefix + ":" + action + "></s:Body></s:Envelope>\r\n";
}

std::string setUriArguments(const std::string& escapedUri) {
  return "<CurrentURI>" + escapedUri + "</CurrentURI><CurrentURIMetaData></CurrentURIMetaData>";
}

std::string postRequest(const std::string& path, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class SniffingRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(portsLock_.held());
    previousAddresses_ = setLocalAddressSource([] { return std::vector<std::string>{"127.0.0.1"}; });
    state_.rendererServer = std::make_unique<EmbeddedHttpServer>();
  }
  void TearDown() override {
    stopRenderer(state_);
    setLocalAddressSource(previousAddresses_);
  }

  void start() {
    ASSERT_TRUE(startRenderer(state_, utf8ToGbk("Morla小站"), captures_.routine()));
    ASSERT_TRUE(state_.rendererServer->isRunning());
    ASSERT_GE(state_.rendererPort, 18889);
    ASSERT_LE(state_.rendererPort, 18898);
  }
  int port() const { return state_.rendererPort; }

  RawHttpResponse post(const std::string& path, const std::string& body) {
    return rawHttpExchange(port(), postRequest(path, body));
  }
  RawHttpResponse get(const std::string& path) {
    return rawHttpExchange(port(), "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  }
  // The body of the answer to an AVTransport action.
  std::string act(const std::string& action, const std::string& arguments = std::string()) {
    RawHttpResponse response = post(kControl, soapBody(action, arguments));
    EXPECT_TRUE(response.complete);
    EXPECT_EQ(response.status, 200);
    return response.body;
  }

  RendererPortsLock portsLock_;
  LocalAddressSource previousAddresses_;
  AppState state_;
  Captures captures_;
};

TEST_F(SniffingRendererTest, ServesBothDocumentsWithTheRendererHeaders) {
  start();
  RawHttpResponse early = get("/description.xml");
  EXPECT_NE(early.body.find("<URLBase>http://</URLBase>"), std::string::npos);

  state_.rendererAddress.set("10.0.0.7:18889");
  RawHttpResponse description = get("/description.xml");
  ASSERT_TRUE(description.complete);
  EXPECT_EQ(description.status, 200);
  // The server writes the GBK name as UTF-8.
  EXPECT_EQ(description.body, replacePlaceholders(kRendererDescriptionTemplate,
                                                  {{"[ip]", "10.0.0.7:18889"}, {"[NAME]", "Morla小站"}}));
  EXPECT_NE(description.body.find("<friendlyName>Morla小站</friendlyName>"), std::string::npos);

  RawHttpResponse service = get("/AVTransport.scpd.xml");
  ASSERT_TRUE(service.complete);
  EXPECT_EQ(service.body, rendererServiceDescription());

  RawHttpResponse action = post(kControl, soapBody("Play", ""));
  for (const RawHttpResponse* response : {&description, &service, &action}) {
    EXPECT_EQ(response->header("Content-Type"), "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(response->header("Server"), "Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0 Microsoft-HTTPAPI/2.0");
    auto position = [&](const std::string& name) {
      return std::find_if(response->headers.begin(), response->headers.end(),
                          [&](const auto& header) { return header.first == name; });
    };
    EXPECT_LT(position("Content-Type"), position("Server"));
  }
}

TEST_F(SniffingRendererTest, CapturesTheUnescapedUriAndEchoesTheEscapedOne) {
  start();
  EXPECT_EQ(act("GetMediaInfo"), expectedAnswer("GetMediaInfo", mediaInfoElements("")));
  EXPECT_EQ(act("SetAVTransportURI", setUriArguments("http://10.0.0.9/v.m3u8?a=1&amp;b=2")),
            expectedAnswer("SetAVTransportURI", ""));
  EXPECT_EQ(captures_.uris(), std::vector<std::string>{"http://10.0.0.9/v.m3u8?a=1&b=2"});
  EXPECT_EQ(state_.lastCapturedUri.get(), "http://10.0.0.9/v.m3u8?a=1&amp;b=2");
  const std::string escaped = mediaInfoElements("http://10.0.0.9/v.m3u8?a=1&amp;b=2");
  EXPECT_EQ(act("GetMediaInfo"), expectedAnswer("GetMediaInfo", escaped));
  EXPECT_EQ(act("GetPositionInfo"), expectedAnswer("GetPositionInfo", escaped));

  // Without an unprefixed CurrentURI element the capture routine gets the
  // empty text.
  act("SetAVTransportURI", "<u:CurrentURI>http://elsewhere/</u:CurrentURI>");
  EXPECT_EQ(captures_.uris(), (std::vector<std::string>{"http://10.0.0.9/v.m3u8?a=1&b=2", ""}));
}

TEST_F(SniffingRendererTest, TransportStateFollowsSetStopAndPlay) {
  start();
  struct Step {
    const char* action;
    const char* stateAfter;
  };
  EXPECT_EQ(act("GetTransportInfo"), expectedAnswer("GetTransportInfo", transportInfoElements("NO_MEDIA_PRESENT")));
  const Step steps[] = {
      {"Next", "NO_MEDIA_PRESENT"}, {"SetAVTransportURI", "PLAYING"}, {"Pause", "PLAYING"},
      {"Stop", "NO_MEDIA_PRESENT"}, {"Seek", "NO_MEDIA_PRESENT"},     {"Play", "PLAYING"},
      {"play", "PLAYING"},          {"Stop", "NO_MEDIA_PRESENT"},     {"PLAY", "NO_MEDIA_PRESENT"},
  };
  for (const Step& step : steps) {
    const std::string arguments = std::string(step.action) == "SetAVTransportURI" ? setUriArguments("http://a/") : "";
    // Every action but the two queries answers with its empty element.
    EXPECT_EQ(act(step.action, arguments), expectedAnswer(step.action, "")) << step.action;
    EXPECT_EQ(act("GetTransportInfo"), expectedAnswer("GetTransportInfo", transportInfoElements(step.stateAfter)))
        << "after " << step.action;
  }
}

TEST_F(SniffingRendererTest, OnlyTheUPrefixAndTheAvTransportRouteAct) {
  start();
  const std::string casting = setUriArguments("http://10.0.0.9/x.m3u8");
  RawHttpResponse prefixed = post(kControl, soapBody("SetAVTransportURI", casting, "m"));
  EXPECT_EQ(prefixed.body, expectedAnswer("", ""));
  EXPECT_FALSE(state_.rendererPlaying);

  // The other services' routes answer with the AVTransport type and change nothing.
  for (const char* path : {"/_urn:schemas-upnp-org:service:ConnectionManager_control",
                           "/_urn:schemas-upnp-org:service:RenderingControl_control"}) {
    EXPECT_EQ(post(path, soapBody("GetProtocolInfo", "")).body, expectedAnswer("GetProtocolInfo", "")) << path;
    EXPECT_EQ(post(path, soapBody("SetAVTransportURI", casting)).body, expectedAnswer("SetAVTransportURI", ""))
        << path;
  }
  EXPECT_TRUE(captures_.uris().empty());
  EXPECT_FALSE(state_.rendererPlaying);

  // Paths no route names, and a document asked for with a query string.
  for (const char* path : {"/_urn:schemas-upnp-org:service:AVTransport_event", "/nothing/here",
                           "/description.xml?x=1", "/AVTransport.scpd.xml?", "/Description.xml"}) {
    RawHttpResponse response = get(path);
    EXPECT_EQ(response.status, 200) << path;
    EXPECT_EQ(response.body, expectedAnswer("", "")) << path;
  }
  // The action of a body is named even on a path no route names.
  EXPECT_EQ(post("/unknown", soapBody("Play", "")).body, expectedAnswer("Play", ""));
  EXPECT_FALSE(state_.rendererPlaying);
}

TEST_F(SniffingRendererTest, NoFreePortAmongTheTen) {
  std::vector<std::unique_ptr<Listener>> listeners;
  for (int port = 18889; port <= 18898; ++port) listeners.push_back(std::make_unique<Listener>(port));
  bool called = false;
  EXPECT_FALSE(startRenderer(state_, "other", [&](const std::string&) { called = true; }));
  EXPECT_FALSE(state_.rendererServer->isRunning());
  // Name and routine are replaced all the same.
  EXPECT_EQ(state_.rendererFriendlyName.get(), "other");
  ASSERT_TRUE(state_.captureCallback);
  state_.captureCallback("x");
  EXPECT_TRUE(called);

  // One port freed: the renderer takes it.
  listeners[4].reset();
  ASSERT_TRUE(startRenderer(state_, "other", captures_.routine()));
  EXPECT_EQ(state_.rendererPort, 18893);
  EXPECT_EQ(get("/description.xml").status, 200);
}

TEST_F(SniffingRendererTest, RestartKeepsTheTransportStateAndTheLastUri) {
  start();
  act("SetAVTransportURI", setUriArguments("http://10.0.0.9/a&amp;b"));
  const int firstPort = port();

  // Started again while running: refused, and still announced on its port.
  EXPECT_FALSE(startRenderer(state_, utf8ToGbk("Morla小站"), captures_.routine()));
  EXPECT_EQ(port(), firstPort);
  EXPECT_TRUE(state_.rendererServer->isRunning());
  EXPECT_EQ(act("GetTransportInfo"), expectedAnswer("GetTransportInfo", transportInfoElements("PLAYING")));

  stopRenderer(state_);
  EXPECT_FALSE(state_.rendererServer->isRunning());
  EXPECT_FALSE(RawHttpConnection(firstPort).isOpen());
  stopRenderer(state_);

  start();
  EXPECT_EQ(act("GetTransportInfo"), expectedAnswer("GetTransportInfo", transportInfoElements("PLAYING")));
  EXPECT_EQ(act("GetMediaInfo"), expectedAnswer("GetMediaInfo", mediaInfoElements("http://10.0.0.9/a&amp;b")));
  act("Stop");
  stopRenderer(state_);
  start();
  EXPECT_EQ(act("GetTransportInfo"), expectedAnswer("GetTransportInfo", transportInfoElements("NO_MEDIA_PRESENT")));
  EXPECT_EQ(get("/AVTransport.scpd.xml").body, rendererServiceDescription());
}

TEST_F(SniffingRendererTest, ConcurrentCastsAreAllCaptured) {
  start();
  constexpr int kClients = 8;
  constexpr int kPerClient = 1250;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      auto connection = std::make_unique<RawHttpConnection>(port());
      for (int i = 0; i < kPerClient && std::chrono::steady_clock::now() < deadline; ++i) {
        if (!connection->isOpen()) connection = std::make_unique<RawHttpConnection>(port());
        const std::string uri = "http://10.0.0.9/" + std::to_string(c) + "/" + std::to_string(i) + "?a=1&amp;b=2";
        RawHttpResponse response;
        if (connection->send(postRequest(kControl, soapBody("SetAVTransportURI", setUriArguments(uri))))) {
          response = connection->readResponse();
        }
        if (!response.complete || response.body != expectedAnswer("SetAVTransportURI", "")) {
          ++failures;
          connection->close();
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(failures, 0);

  std::vector<std::string> expected;
  for (int c = 0; c < kClients; ++c) {
    for (int i = 0; i < kPerClient; ++i) {
      expected.push_back("http://10.0.0.9/" + std::to_string(c) + "/" + std::to_string(i) + "?a=1&b=2");
    }
  }
  std::vector<std::string> captured = captures_.uris();
  EXPECT_EQ(captured.size(), expected.size());
  std::sort(captured.begin(), captured.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(captured == expected);
  const std::string last = state_.lastCapturedUri.get();
  EXPECT_EQ(last.rfind("http://10.0.0.9/", 0), 0u) << last;
}

// Used as the capture routine: blocks until released, as the window's does
// while the GUI thread is busy, and then records the URI under its tag (a
// routine freed while it runs would read a freed tag).
class BlockingCapture {
 public:
  CaptureRoutine routine(const std::string& tag) {
    return [this, tag](const std::string& uri) {
      std::unique_lock<std::mutex> lock(mutex_);
      entered_ = true;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
      recorded_.push_back(tag + uri);
    };
  }
  bool waitUntilEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<std::string> recorded() {
    std::lock_guard<std::mutex> lock(mutex_);
    return recorded_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
  std::vector<std::string> recorded_;
};

TEST_F(SniffingRendererTest, AnswersOnlyAfterTheCaptureRoutineAndSurvivesAStopWhileItBlocks) {
  auto blocking = std::make_shared<BlockingCapture>();
  const std::string tag = "a routine of the first start, long enough for the heap: ";
  ASSERT_TRUE(startRenderer(state_, "n", blocking->routine(tag)));
  const int firstPort = port();
  auto answer = std::async(std::launch::async, [&] {
    return rawHttpExchange(firstPort, postRequest(kControl, soapBody("SetAVTransportURI", setUriArguments("http://late/"))));
  });
  ASSERT_TRUE(blocking->waitUntilEntered());
  EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);

  const auto before = std::chrono::steady_clock::now();
  stopRenderer(state_);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_FALSE(answer.get().complete);

  // A new start replaces the routine while the old handler still runs in its own.
  start();
  blocking->release();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (state_.lastCapturedUri.get() != "http://late/" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(state_.lastCapturedUri.get(), "http://late/");
  EXPECT_EQ(blocking->recorded(), std::vector<std::string>{tag + "http://late/"});
  act("SetAVTransportURI", setUriArguments("http://next/"));
  EXPECT_EQ(captures_.uris(), std::vector<std::string>{"http://next/"});
}

TEST_F(SniffingRendererTest, BadInput) {
  start();
  // No SOAP body: no action, nothing captured.
  const std::string bare = std::string("<u:SetAVTransportURI xmlns:u=\"") + kAvTransport +
                           "\"><CurrentURI>http://x/</CurrentURI></u:SetAVTransportURI>";
  EXPECT_EQ(post(kControl, bare).body, expectedAnswer("", ""));
  EXPECT_EQ(post(kControl, "").body, expectedAnswer("", ""));
  // A zero byte ends the text in which the action is looked for.
  std::string zero = soapBody("Play", "");
  zero.insert(zero.find("<s:Body>"), 1, '\0');
  EXPECT_EQ(post(kControl, zero).body, expectedAnswer("", ""));
  EXPECT_TRUE(captures_.uris().empty());
  EXPECT_FALSE(state_.rendererPlaying);

  // A CurrentURI of 1 MB.
  const std::string longUri = "http://10.0.0.9/" + std::string(1000000, 'a');
  EXPECT_EQ(act("SetAVTransportURI", setUriArguments(longUri)), expectedAnswer("SetAVTransportURI", ""));
  ASSERT_EQ(captures_.uris().size(), 1u);
  EXPECT_TRUE(captures_.uris()[0] == longUri);
  EXPECT_TRUE(act("GetMediaInfo") == expectedAnswer("GetMediaInfo", mediaInfoElements(longUri)));

  // 100 MB announced: refused before the body is read.
  RawHttpConnection connection(port());
  ASSERT_TRUE(connection.isOpen());
  ASSERT_TRUE(connection.send(std::string("POST ") + kControl +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 104857600\r\n\r\n" +
                              soapBody("SetAVTransportURI", setUriArguments("http://big/"))));
  RawHttpResponse refused = connection.readResponse();
  EXPECT_EQ(refused.status, 413);
  EXPECT_EQ(captures_.uris().size(), 1u);

  // Non-ASCII: GBK, with "?" for a character GBK lacks.
  act("SetAVTransportURI", setUriArguments("http://10.0.0.9/电影😀.m3u8"));
  ASSERT_EQ(captures_.uris().size(), 2u);
  EXPECT_EQ(captures_.uris()[1], utf8ToGbk("http://10.0.0.9/电影?.m3u8"));
  EXPECT_EQ(state_.lastCapturedUri.get(), utf8ToGbk("http://10.0.0.9/电影?.m3u8"));
  EXPECT_EQ(act("GetMediaInfo"), expectedAnswer("GetMediaInfo", mediaInfoElements("http://10.0.0.9/电影?.m3u8")));
}

}  // namespace
}  // namespace tavrin
