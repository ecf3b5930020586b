// The control point across the test LAN: the program's core on "host" lists
// fixture renderers in "tv" through its own discovery, pushes URLs to them
// and asks what they play; the fixture reports every request it gets byte
// for byte, so the requests are compared with what the UPnP control
// protocol and the program's own header lines make of them.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "control/av_transport.h"
#include "discovery_session.h"
#include "fixtures/fixture_renderer_documents.h"

namespace tavrin::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// How a request line of the fixture starts when the request is a POST
// ("request " and the hex of "POST").
constexpr char kPostReport[] = "request 504f5354";

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// The POST requests the fixture got, whole, in the order they came.
std::vector<std::string> postedRequests(const LanProcess& fixture) {
  std::vector<std::string> posts;
  for (const std::string& line : fixture.lines()) {
    if (line.rfind(kPostReport, 0) == 0) posts.push_back(fromHex(line.substr(8)));
  }
  return posts;
}

// Waits until the fixture has reported `count` POSTs in all, then a little
// longer so that one too many would show.
std::vector<std::string> waitForPosts(const LanProcess& fixture, size_t count) {
  EXPECT_TRUE(fixture.waitForLines(kPostReport, count, seconds(10))) << "fewer than " << count << " requests";
  std::this_thread::sleep_for(milliseconds(200));
  return postedRequests(fixture);
}

// A SOAP action request as the program sends it: its header lines in their
// order (the library's Host and Content-Length included) and the envelope
// with the argument elements, each ended by CR LF.
std::string soapRequest(const std::string& authority, const std::string& path, const std::string& serviceType,
                        const std::string& action, const std::string& argumentElements) {
  const std::string envelope =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
      "  <s:Body>\r\n"
      "    <u:" + action + " xmlns:u=\"" + serviceType + "\">\r\n"
      "      " + argumentElements + "\r\n"
      "    </u:" + action + ">\r\n"
      "  </s:Body>\r\n"
      "</s:Envelope>";
  return "POST " + path + " HTTP/1.1\r\n"
         "Host: " + authority + "\r\n"
         "SOAPAction: \"" + serviceType + "#" + action + "\"\r\n"
         "User-Agent: UPnP/1.0 DLNADOC/1.50 Platinum/1.0.5.13\r\n"
         "Content-Type: text/xml; charset=\"utf-8\"\r\n"
         "Accept: */*\r\n"
         "Referer: http://" + authority + path + "\r\n"
         "Accept-Language: zh-cn\r\n"
         "Content-Length: " + std::to_string(envelope.size()) + "\r\n"
         "\r\n" + envelope;
}

const char kAvTransport1[] = "urn:schemas-upnp-org:service:AVTransport:1";
const char kAvTransport2[] = "urn:schemas-upnp-org:service:AVTransport:2";
const char kPlayArguments[] = "<InstanceID>0</InstanceID>\r\n<Speed>1</Speed>\r\n";
const char kMediaInfoArguments[] = "<InstanceID>0</InstanceID>\r\n";

std::string setUriArguments(const std::string& escapedUri) {
  return "<InstanceID>0</InstanceID>\r\n<CurrentURI>" + escapedUri +
         "</CurrentURI>\r\n<CurrentURIMetaData></CurrentURIMetaData>\r\n";
}

// The fixture in tv with the devices, listed by the core through discovery.
struct ListedFixture {
  std::unique_ptr<LanProcess> tv;
  std::string authority;            // "10.77.0.2:<port>"
  std::map<std::string, int> index;  // by uuid
};

void listFixture(DiscoverySession& session, const std::vector<std::string>& args, size_t devices,
                 ListedFixture& listed) {
  listed.tv = startFixture("tv", args, 30);
  const int port = waitUntilReady(*listed.tv);
  ASSERT_GT(port, 0);
  listed.authority = "10.77.0.2:" + std::to_string(port);
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(session.waitForCallbacks(devices, seconds(15)));
  const std::vector<ListedDevice> list = session.devices();
  for (size_t i = 0; i < list.size(); ++i) listed.index[list[i].uuid] = static_cast<int>(i) + 1;
  ASSERT_EQ(listed.index.size(), devices);
}

TEST(ControlPointLan, PushSendsSetUriThenPlayToTheTransportServiceOfEachKindOfDevice) {
  DiscoverySession session;
  ListedFixture fixture;
  // Each control answer comes 200 ms late, so a Play sent before the
  // SetAVTransportURI answer would show in the fixture's order of lines.
  ASSERT_NO_FATAL_FAILURE(listFixture(session,
                                      {"--device", "cm-avt-rc", "--device", "cm-avt-rc+urlbase", "--device", "avt2",
                                       "--device", "notransport", "--answer-delay-ms", "200"},
                                      4, fixture));
  const LanProcess& tv = *fixture.tv;
  const std::string& authority = fixture.authority;
  // The URLBase "http://10.77.0.2:<port>/" is the second device's base.
  EXPECT_EQ(session.text(fixture.index["fixture-tv-2"], "url"), "http://" + authority + "/");

  // ConnectionManager, AVTransport, RenderingControl: the second service's
  // control URL; every "&" escaped, also one that begins an entity; the
  // non-ASCII path goes out as UTF-8.
  const std::string url = "http://10.77.0.9:8080/live/频道.m3u8?a=1&b=2&amp;c=3";
  const std::string escaped = "http://10.77.0.9:8080/live/频道.m3u8?a=1&amp;b=2&amp;amp;c=3";
  pushUrl(session.state, utf8ToGbk(url), fixture.index["fixture-tv-1"]);
  std::vector<std::string> posts = waitForPosts(tv, 2);
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[0], soapRequest(authority, "/c/1/avt", kAvTransport1, "SetAVTransportURI", setUriArguments(escaped)));
  EXPECT_EQ(posts[1], soapRequest(authority, "/c/1/avt", kAvTransport1, "Play", kPlayArguments));
  // The Play request came only after the SetAVTransportURI answer was out.
  std::vector<std::string> exchange;
  for (const std::string& line : tv.lines()) {
    if (line.rfind("fetch /c/", 0) == 0 || line.rfind("end /c/", 0) == 0) {
      exchange.push_back(line.substr(0, line.find(' ', line.find(' ') + 1)));
    }
  }
  EXPECT_EQ(exchange, (std::vector<std::string>{"fetch /c/1/avt", "end /c/1/avt", "fetch /c/1/avt", "end /c/1/avt"}));

  // A URLBase ending in "/" and a control URL beginning with "/": one "/".
  pushUrl(session.state, "http://10.77.0.9/a.mp4", fixture.index["fixture-tv-2"]);
  posts = waitForPosts(tv, 4);
  ASSERT_EQ(posts.size(), 4u);
  EXPECT_EQ(posts[2], soapRequest(authority, "/c/2/avt", kAvTransport1, "SetAVTransportURI",
                                  setUriArguments("http://10.77.0.9/a.mp4")));
  EXPECT_EQ(posts[3], soapRequest(authority, "/c/2/avt", kAvTransport1, "Play", kPlayArguments));

  // Only a version 2 transport: its own control URL, with its own type.
  pushUrl(session.state, "http://10.77.0.9/b.mp4", fixture.index["fixture-tv-3"]);
  posts = waitForPosts(tv, 6);
  ASSERT_EQ(posts.size(), 6u);
  EXPECT_EQ(posts[4], soapRequest(authority, "/c/3/avt", kAvTransport2, "SetAVTransportURI",
                                  setUriArguments("http://10.77.0.9/b.mp4")));
  EXPECT_EQ(posts[5], soapRequest(authority, "/c/3/avt", kAvTransport2, "Play", kPlayArguments));

  // No transport at all: the base URL followed by "/", with the version 1
  // type; the push ends silently.
  pushUrl(session.state, "http://10.77.0.9/c.mp4", fixture.index["fixture-tv-4"]);
  posts = waitForPosts(tv, 8);
  ASSERT_EQ(posts.size(), 8u);
  EXPECT_EQ(posts[6],
            soapRequest(authority, "/", kAvTransport1, "SetAVTransportURI", setUriArguments("http://10.77.0.9/c.mp4")));
  EXPECT_EQ(posts[7], soapRequest(authority, "/", kAvTransport1, "Play", kPlayArguments));

  // Every action reached a transport service: none went to a
  // ConnectionManager or RenderingControl URL.
  EXPECT_EQ(tv.countLines("fetch /c/1/avt "), 2u);
  EXPECT_EQ(tv.countLines("fetch /c/1/cm "), 0u);
  EXPECT_EQ(tv.countLines("fetch /c/1/rc "), 0u);
  EXPECT_EQ(tv.countLines("fetch /c/4/"), 0u);
  EXPECT_EQ(tv.countLines("action "), 6u);
  EXPECT_TRUE(session.messages.messages().empty());
}

TEST(ControlPointLan, FetchReturnsTheReportedUriAndTheEmptyTextForEveryOtherAnswer) {
  DiscoverySession session;
  ListedFixture fixture;
  ASSERT_NO_FATAL_FAILURE(listFixture(session,
                                      {"--device", "cm-avt-rc", "--device", "cm-avt-rc:empty", "--device",
                                       "cm-avt-rc:fault", "--device", "avt2:fixed", "--device", "notransport"},
                                      5, fixture));
  const LanProcess& tv = *fixture.tv;
  const int last = fixture.index["fixture-tv-1"];

  // Nothing set yet: an empty CurrentURI.
  EXPECT_EQ(fetchCurrentUri(session.state, last), "");
  const std::string url = "http://10.77.0.9/a.m3u8?x=1&y=2&amp;z";
  pushUrl(session.state, url, last);
  // The renderer reports the URI escaped as it was sent; it comes back as
  // it was pushed.
  EXPECT_EQ(fetchCurrentUri(session.state, last), url);
  std::vector<std::string> posts = waitForPosts(tv, 4);
  ASSERT_EQ(posts.size(), 4u);
  EXPECT_EQ(posts[0], soapRequest(fixture.authority, "/c/1/avt", kAvTransport1, "GetMediaInfo", kMediaInfoArguments));
  EXPECT_EQ(posts[3], posts[0]);

  EXPECT_EQ(fetchCurrentUri(session.state, fixture.index["fixture-tv-2"]), "");
  EXPECT_EQ(fetchCurrentUri(session.state, fixture.index["fixture-tv-3"]), "");
  // A version 2 transport asked with its own type; a non-ASCII URI comes
  // back as the program's text.
  EXPECT_EQ(gbkToUtf8(fetchCurrentUri(session.state, fixture.index["fixture-tv-4"])), kFixtureFixedUri);
  EXPECT_EQ(fetchCurrentUri(session.state, fixture.index["fixture-tv-5"]), "");
  posts = waitForPosts(tv, 8);
  ASSERT_EQ(posts.size(), 8u);
  EXPECT_EQ(posts[4], soapRequest(fixture.authority, "/c/2/avt", kAvTransport1, "GetMediaInfo", kMediaInfoArguments));
  EXPECT_EQ(posts[5], soapRequest(fixture.authority, "/c/3/avt", kAvTransport1, "GetMediaInfo", kMediaInfoArguments));
  EXPECT_EQ(posts[6], soapRequest(fixture.authority, "/c/4/avt", kAvTransport2, "GetMediaInfo", kMediaInfoArguments));
  EXPECT_EQ(posts[7], soapRequest(fixture.authority, "/", kAvTransport1, "GetMediaInfo", kMediaInfoArguments));

  // No device selected (index 0), or an index past the list: the empty text,
  // and nothing reaches any renderer.
  EXPECT_EQ(fetchCurrentUri(session.state, 0), "");
  EXPECT_EQ(fetchCurrentUri(session.state, 6), "");
  EXPECT_EQ(waitForPosts(tv, 8).size(), 8u);
  EXPECT_EQ(session.state.deviceList->count(), 5);
}

}  // namespace
}  // namespace tavrin::testing
