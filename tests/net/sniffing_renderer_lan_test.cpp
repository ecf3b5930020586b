// The sniffing renderer on the test LAN: the program's core runs on "host"
// as the sniff tab runs it (discovery started, the renderer started with
// the name "Morla小站" and a capture routine), and the fixture phone app on
// "phone" finds it with a search, reads its documents and casts to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "fixtures/capture_recorder.h"
#include "fixtures/lan_process.h"
#include "fixtures/message_collector.h"
#include "httpserv/renderer_documents.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/text_encoding.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin::testing {
namespace {

using std::chrono::seconds;

constexpr char kHostAddress[] = "10.77.0.1";
constexpr char kControlPath[] = "/_urn:schemas-upnp-org:service:AVTransport_control";
constexpr char kCastUri[] = "http://10.0.0.9/v.m3u8?a=1&amp;b=2";
constexpr char kServerHeader[] = "Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0 Microsoft-HTTPAPI/2.0";

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
  size_t start = text.find(open);
  if (start == std::string::npos) return "";
  start += open.size();
  size_t end = text.find(close, start);
  return end == std::string::npos ? "" : text.substr(start, end - start);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The answer to a search, written out here: the address of the host in the
// phone's network and the renderer's port, UTF-8, one zero byte at the end.
std::string expectedSearchAnswer(int port) {
  return "HTTP/1.1 200 OK\r\n"
         "ST: upnp:rootdevice\r\n"
         "USN: uuid:KQVDKQVDKQVD::upnp:rootdevice\r\n"
         "Location: http://10.77.0.1:" + std::to_string(port) + "/description.xml\r\n"
         "OPT:\"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
         "Cache-Control: max-age=1800\r\n"
         "Server: Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0\r\n"
         "Ext: \r\n"
         "\r\n" + std::string(1, '\0');
}

// An action response, written out here.
std::string expectedActionAnswer(const std::string& action, const std::string& elements) {
  return "<?xml version=\"1.0\"?>\r\n"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">  \r\n"
         "  <s:Body> \r\n"
         "    <u:" + action + "Response xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">" + elements +
         "</u:" + action + "Response> \r\n"
         "  </s:Body> \r\n"
         "</s:Envelope>\r\n"
         "\r\n";
}

std::string transportInfo(const std::string& state) {
  return expectedActionAnswer("GetTransportInfo", "<CurrentTransportState>" + state +
                                                      "</CurrentTransportState><CurrentTransportStatus>OK"
                                                      "</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>");
}

std::string mediaInfo(const std::string& currentUri) {
  return expectedActionAnswer(
      "GetMediaInfo",
      "<NrTracks>0</NrTracks><MediaDuration>00:00:00</MediaDuration><CurrentURI>" + currentUri +
          "</CurrentURI><CurrentURIMetaData></CurrentURIMetaData><NextURI>NOT_IMPLEMENTED</NextURI>"
          "<NextURIMetaData>NOT_IMPLEMENTED</NextURIMetaData><PlayMedium>NONE</PlayMedium>"
          "<RecordMedium>NOT_IMPLEMENTED</RecordMedium><WriteStatus>NOT_IMPLEMENTED</WriteStatus>");
}

// One run of the phone app on "phone", bounded by `limit` seconds.
struct PhoneRun {
  int exitStatus = -1;
  std::vector<std::string> lines;

  // The rest of every line that starts with the prefix.
  std::vector<std::string> after(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
    }
    return found;
  }
};

PhoneRun runPhone(const std::vector<std::string>& args, int limit = 20) {
  std::vector<std::string> command = {TAVRIN_PHONE_APP, "--seconds", std::to_string(limit)};
  command.insert(command.end(), args.begin(), args.end());
  LanProcess phone(TAVRIN_LAN_SCRIPT, "phone", command, seconds(limit + 5));
  PhoneRun run;
  run.exitStatus = phone.waitForExit(seconds(limit + 5));
  // No line starts with a line break: this returns once the output has
  // ended, so that every line written before the exit is there.
  phone.waitForLines("\n", 1, seconds(3));
  run.lines = phone.lines();
  return run;
}

// The datagrams that came back to a search from the phone, as
// "address:port" and bytes.
std::vector<std::pair<std::string, std::string>> searchFromPhone(const std::string& target = "upnp:rootdevice") {
  PhoneRun run = runPhone({"search", "--target", target, "--listen-ms", "1500"});
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<std::pair<std::string, std::string>> answers;
  for (const std::string& rest : run.after("answer ")) {
    size_t space = rest.find(' ');
    answers.emplace_back(rest.substr(0, space), fromHex(rest.substr(space + 1)));
  }
  return answers;
}

struct Fetched {
  bool complete = false;
  int status = 0;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
};

Fetched fetchFromPhone(const std::string& url) {
  PhoneRun run = runPhone({"fetch", url});
  Fetched fetched;
  fetched.complete = run.exitStatus == 0 && run.after("status ").size() == 1 && run.after("body ").size() == 1;
  if (!fetched.complete) return fetched;
  fetched.status = std::stoi(run.after("status ")[0]);
  fetched.headers = run.after("header ");
  fetched.body = fromHex(run.after("body ")[0]);
  return fetched;
}

// The answers to the actions posted from the phone, in order: status and body.
std::vector<std::pair<int, std::string>> actionsFromPhone(const std::string& controlUrl,
                                                          const std::vector<std::string>& actions) {
  std::vector<std::string> args = {"actions", controlUrl};
  args.insert(args.end(), actions.begin(), actions.end());
  PhoneRun run = runPhone(args);
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<std::pair<int, std::string>> answers;
  for (const std::string& rest : run.after("action ")) {
    // "<name> <status> <ms> <hex>"
    size_t status = rest.find(' ') + 1;
    size_t ms = rest.find(' ', status) + 1;
    size_t hex = rest.find(' ', ms) + 1;
    answers.emplace_back(std::stoi(rest.substr(status, ms - status)), fromHex(rest.substr(hex)));
  }
  return answers;
}

const std::string kFriendlyName = "Morla小站";

// The core as the program runs it while the sniff tab's renderer is on.
class SniffSession {
 public:
  SniffSession() { initAppState(state); }
  ~SniffSession() { shutdownAppState(state); }
  SniffSession(const SniffSession&) = delete;
  SniffSession& operator=(const SniffSession&) = delete;

  bool start() { return startDiscovery(state, [](int) {}) && startRenderer(); }
  bool startRenderer() { return tavrin::startRenderer(state, utf8ToGbk(kFriendlyName), captures.routine()); }

  int port() const { return state.rendererPort; }
  std::string baseUrl() const { return "http://" + std::string(kHostAddress) + ":" + std::to_string(port()); }
  std::string controlUrl() const { return baseUrl() + kControlPath; }

  // Declared first: the renderer's handlers call into it until shutdown.
  Captures captures;
  MessageCollector messages;
  AppState state;
};

void expectRendererHeaders(const Fetched& fetched) {
  EXPECT_EQ(fetched.status, 200);
  const std::vector<std::string> wanted = {"Content-Type: text/xml; charset=\"utf-8\"",
                                           std::string("Server: ") + kServerHeader};
  for (const std::string& header : wanted) {
    EXPECT_EQ(std::count(fetched.headers.begin(), fetched.headers.end(), header), 1) << header;
  }
}

TEST(SniffingRendererLan, PhoneFindsTheRendererAndReadsBothDocumentsByteForByte) {
  SniffSession session;
  ASSERT_TRUE(session.start());
  const int port = session.port();
  ASSERT_GE(port, 18889);
  ASSERT_LE(port, 18898);

  // One answer to a search, whatever it searches for, from the SSDP port,
  // naming the host's address in the phone's network.
  const std::string answer = expectedSearchAnswer(port);
  // 266 characters of template, "[ip]" replaced by "10.77.0.1:" and a
  // five-digit port (15 characters), and the zero byte.
  ASSERT_EQ(answer.size(), 266u - 4 + 15 + 1);
  for (const std::string target : {"upnp:rootdevice", "ssdp:all", "urn:schemas-upnp-org:device:MediaRenderer:1"}) {
    auto answers = searchFromPhone(target);
    ASSERT_EQ(answers.size(), 1u) << target;
    EXPECT_EQ(answers[0].first, "10.77.0.1:1900");
    EXPECT_EQ(answers[0].second, answer) << target;
  }
  EXPECT_EQ(session.state.rendererAddress.get(), "10.77.0.1:" + std::to_string(port));

  // The phone follows the location to the description...
  const std::string location = between(answer, "Location: ", "\r\n");
  Fetched description = fetchFromPhone(location);
  ASSERT_TRUE(description.complete);
  expectRendererHeaders(description);
  const std::string urlBase = "http://10.77.0.1:" + std::to_string(port);
  EXPECT_EQ(description.body,
            replaced(replaced(kRendererDescriptionTemplate, "[ip]", "10.77.0.1:" + std::to_string(port)), "[NAME]",
                     kFriendlyName));
  EXPECT_NE(description.body.find("   <URLBase>" + urlBase + "</URLBase>\r\n"), std::string::npos);
  EXPECT_NE(description.body.find("      <friendlyName>Morla小站</friendlyName>\r\n"), std::string::npos);

  // ... and from there, against its URL base, to the service description.
  const std::string scpdUrl = between(description.body, "<URLBase>", "</URLBase>") + "/" +
                              between(description.body, "<SCPDURL>", "</SCPDURL>");
  EXPECT_EQ(scpdUrl, urlBase + "/AVTransport.scpd.xml");
  Fetched service = fetchFromPhone(scpdUrl);
  ASSERT_TRUE(service.complete);
  expectRendererHeaders(service);
  EXPECT_EQ(service.body.size(), 24578u);
  EXPECT_EQ(service.body, rendererServiceDescription());

  // With a query string the path is another one: the empty action answer.
  Fetched queried = fetchFromPhone(location + "?x=1");
  ASSERT_TRUE(queried.complete);
  expectRendererHeaders(queried);
  EXPECT_EQ(queried.body, expectedActionAnswer("", ""));
  EXPECT_TRUE(session.captures.uris().empty());
  EXPECT_TRUE(session.messages.messages().empty());
}

TEST(SniffingRendererLan, CastIsCapturedUnescapedAndTheTransportStateFollowsTheActions) {
  SniffSession session;
  ASSERT_TRUE(session.start());
  const std::string control = session.controlUrl();

  auto before = actionsFromPhone(control, {"GetTransportInfo", "GetMediaInfo"});
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0], std::make_pair(200, transportInfo("NO_MEDIA_PRESENT")));
  EXPECT_EQ(before[1], std::make_pair(200, mediaInfo("")));

  PhoneRun cast = runPhone({"cast", control, kCastUri});
  ASSERT_EQ(cast.exitStatus, 0);
  ASSERT_EQ(cast.after("cast ").size(), 1u);
  const std::string castAnswer = cast.after("cast ")[0];
  EXPECT_EQ(castAnswer.substr(0, 4), "200 ");
  EXPECT_EQ(fromHex(castAnswer.substr(4)), expectedActionAnswer("SetAVTransportURI", ""));
  // The routine got the URL with its entity resolved before the answer went.
  EXPECT_EQ(session.captures.uris(), std::vector<std::string>{"http://10.0.0.9/v.m3u8?a=1&b=2"});

  auto after = actionsFromPhone(control, {"GetTransportInfo", "GetMediaInfo", "Stop", "GetTransportInfo", "Play",
                                          "GetTransportInfo", "GetPositionInfo"});
  const std::vector<std::pair<int, std::string>> expected = {
      {200, transportInfo("PLAYING")},
      // Echoed as received, still escaped, so the answer stays well-formed.
      {200, mediaInfo(kCastUri)},
      {200, expectedActionAnswer("Stop", "")},
      {200, transportInfo("NO_MEDIA_PRESENT")},
      {200, expectedActionAnswer("Play", "")},
      {200, transportInfo("PLAYING")},
      {200, replaced(mediaInfo(kCastUri), "GetMediaInfoResponse", "GetPositionInfoResponse")},
  };
  EXPECT_EQ(after, expected);
  EXPECT_EQ(session.captures.uris().size(), 1u);
}

TEST(SniffingRendererLan, StoppedRendererIsNotFoundAndARestartKeepsItsTransportState) {
  SniffSession session;
  ASSERT_TRUE(session.start());
  ASSERT_EQ(runPhone({"cast", session.controlUrl(), kCastUri}).exitStatus, 0);
  const std::string control = session.controlUrl();

  stopRenderer(session.state);
  EXPECT_TRUE(searchFromPhone().empty());
  EXPECT_FALSE(fetchFromPhone(session.baseUrl() + "/description.xml").complete);

  ASSERT_TRUE(session.startRenderer());
  auto answers = searchFromPhone();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, expectedSearchAnswer(session.port()));
  auto state = actionsFromPhone(session.controlUrl(), {"GetTransportInfo", "GetMediaInfo"});
  ASSERT_EQ(state.size(), 2u);
  EXPECT_EQ(state[0].second, transportInfo("PLAYING"));
  EXPECT_EQ(state[1].second, mediaInfo(kCastUri));
  EXPECT_EQ(session.captures.uris().size(), 1u);
}

TEST(SniffingRendererLan, ThousandIdleConnectionsFromThePhoneDoNotKeepARequestOut) {
  SniffSession session;
  ASSERT_TRUE(session.start());
  PhoneRun run = runPhone({"hold", session.controlUrl(), "1000"}, 60);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.after("held "), std::vector<std::string>{"1000"});
  // The request on a connection of its own is answered while all the idle
  // ones stay open.
  auto answered = run.after("action GetTransportInfo ");
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].substr(0, 4), "200 ");
  const std::string hex = answered[0].substr(answered[0].rfind(' ') + 1);
  EXPECT_EQ(fromHex(hex), transportInfo("NO_MEDIA_PRESENT"));
  EXPECT_EQ(run.after("open "), std::vector<std::string>{"1000"});
}

TEST(SniffingRendererLan, TenThousandCastsFromEightClientsAreEachCapturedOnce) {
  SniffSession session;
  ASSERT_TRUE(session.start());
  constexpr int kCasts = 10000;
  const std::string prefix = "http://10.0.0.9/live.m3u8?n=";
  PhoneRun run = runPhone({"cast", session.controlUrl(), prefix, "--count", std::to_string(kCasts), "--clients", "8"},
                          120);
  EXPECT_EQ(run.exitStatus, 0);
  ASSERT_EQ(run.after("cast-done ").size(), 1u);
  EXPECT_EQ(run.after("cast-done ")[0].rfind(std::to_string(kCasts) + " 0 ", 0), 0u) << run.after("cast-done ")[0];

  std::vector<std::string> captured = session.captures.uris();
  EXPECT_EQ(captured.size(), static_cast<size_t>(kCasts));
  std::set<std::string> expected;
  for (int i = 0; i < kCasts; ++i) expected.insert(prefix + std::to_string(i));
  EXPECT_EQ(std::set<std::string>(captured.begin(), captured.end()), expected);
}

}  // namespace
}  // namespace tavrin::testing
