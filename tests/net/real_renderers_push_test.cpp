// Pushing URLs to the real renderers of the test LAN: rygel, listed through
// discovery (AVTransport:2 only), and gmediarender, recorded from its own
// description (URLBase with a trailing "/"), are told by pushUrl to play the
// test clip served from "host"; each fetches it, plays it and reports the
// URL back through fetchCurrentUri. rygel also takes a second push while it
// plays, to a URL with a Chinese name. (gmediarender 0.1 does not: it keeps
// playing what it plays, since its Play does nothing while it is playing.)
// The core runs on "host" as the program runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "control/av_transport.h"
#include "fixtures/message_collector.h"
#include "fixtures/real_renderers.h"
#include "fixtures/test_server_port.h"
#include "net/real_renderer_push_session.h"
#include "platform/embedded_http_server.h"
#include "platform/key_value_list.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"
#include "platform/xml_document.h"
#include "ssdp/device_list_builder.h"

namespace tavrin {
namespace {

using testing::kRendererWaitMs;
using testing::RealRenderer;
using testing::RealRendererKind;
using testing::RequestLog;
using testing::RunningCore;
using testing::SeenRequest;
using testing::TestClip;

// A plain web server on "host" that serves the clip under the paths the test
// names, each with a log of the requests it gets.
class ClipServer {
 public:
  bool start() {
    port_ = testing::startOnFreeTestPort([this](int port) { return server_.start(port); });
    return port_ > 0;
  }
  // The URL of the clip under the path (UTF-8), with the query.
  std::string serve(const std::string& path, const std::string& query, RequestLog& log) {
    server_.registerPathHandler(
        [&log](const HttpRequest& request, HttpResponse& response) {
          bool sent = response.sendFile(TestClip::path());
          log.add(request, response);
          return sent;
        },
        path);
    return std::string("http://") + testing::kHostAddress + ":" + std::to_string(port_) + path + "?" + query;
  }

 private:
  EmbeddedHttpServer server_;
  int port_ = 0;
};

// The methods of the requests in the log, for failure messages.
std::string methods(const RequestLog& log) {
  std::vector<std::string> names;
  for (const SeenRequest& seen : log.requests()) names.push_back(seen.method);
  return ::testing::PrintToString(names);
}

// Waits until the clip has been sent in answer to a GET.
bool fetched(const RequestLog& log) { return log.waitForFileSent(std::chrono::milliseconds(kRendererWaitMs)); }

// A device record made from a description the way discovery makes one for a
// DLNA device: uuid, name, URLBase (else scheme, host and port of the
// location) and the services in their order.
KeyValueMap recordFromDescription(const std::string& descriptionUtf8, const std::string& location,
                                  const std::string& uuid) {
  XmlDocument description;
  description.loadBytes(utf8ToGbk(descriptionUtf8));
  KeyValueList services;
  for (int j = 1; j <= description.childCount("root/device/serviceList"); ++j) {
    std::string service = "root/device/serviceList/@" + std::to_string(j);
    services.appendMap(KeyValueMap::createMapFromPairs({
        {"serviceId", description.nodeText(service + "/serviceId")},
        {"SCPDURL", description.nodeText(service + "/SCPDURL")},
        {"serviceType", description.nodeText(service + "/serviceType")},
        {"controlURL", description.nodeText(service + "/controlURL")},
    }));
  }
  std::string url = description.nodeText("root/URLBase");
  if (url.empty()) url = baseUrlFromLocation(location);
  return KeyValueMap::createMapFromPairs({
      {"uuid", uuid},
      {"name", description.nodeText("root/device/friendlyName")},
      {"url", url},
      {"service", services},
  });
}

// The device plays the URL: its transport reaches PLAYING, it reports the
// URL as its current one, and its position runs through the 20 s clip.
void expectPlaying(AppState& state, int index, const std::string& url) {
  std::vector<std::string> states = testing::pollTransportStateUntil(state, index, "PLAYING");
  EXPECT_EQ(states.back(), "PLAYING") << ::testing::PrintToString(states);
  EXPECT_EQ(fetchCurrentUri(state, index), url);
  testing::PlaybackPosition position = testing::waitForPosition(state, index, 1.0);
  EXPECT_GE(position.relativeTime, 1.0);
  EXPECT_NEAR(position.trackDuration, 20.0, 0.5);
}

TEST(RealRenderersPush, RygelListedThroughDiscoveryFetchesAndPlaysThePushedUrlAndSwitchesToASecondOne) {
  ASSERT_FALSE(TestClip::path().empty()) << "the test clip could not be made";
  testing::MessageCollector messages;
  RealRenderer rygel(RealRendererKind::kRygel, TAVRIN_LAN_SCRIPT);
  testing::LogOnFailure logs{rygel};
  ASSERT_TRUE(rygel.start()) << rygel.failure();
  ASSERT_TRUE(rygel.waitUntilServing(kRendererWaitMs)) << rygel.failure();
  RequestLog firstRequests;
  RequestLog secondRequests;
  ClipServer server;
  ASSERT_TRUE(server.start());
  // "&" must reach the renderer as itself: escaped in the envelope, and
  // unescaped again when its answer is read. The second URL's Chinese name
  // must reach it as UTF-8 and come back unchanged.
  const std::string first = server.serve("/media/first.mp4", "clip=1&by=pushUrl", firstRequests);
  const std::string second = server.serve("/media/第二段.mp4", "clip=2&by=pushUrl", secondRequests);

  RunningCore core;
  AppState& state = core.state;
  const int index = testing::listThroughDiscovery(state, rygel.uuid());
  ASSERT_GT(index, 0) << "rygel was never listed";
  // Its transport is AVTransport:2 alone.
  KeyValueMap record;
  ASSERT_TRUE(state.deviceList->getMap(index, record));
  ASSERT_EQ(findService(record, kAvTransportType), 2);

  pushUrl(state, first, index);
  // It asks what the resource is before it fetches it.
  ASSERT_TRUE(fetched(firstRequests)) << methods(firstRequests);
  SeenRequest firstSeen = firstRequests.requests()[0];
  EXPECT_EQ(firstSeen.method, "HEAD");
  EXPECT_EQ(firstSeen.featuresAsked, "1");
  EXPECT_EQ(firstSeen.path, "/media/first.mp4?clip=1&by=pushUrl");
  expectPlaying(state, index, first);

  // A push while it plays: it switches to the new URL (the Play that follows
  // is refused as already playing, 701).
  pushUrl(state, utf8ToGbk(second), index);
  ASSERT_TRUE(fetched(secondRequests)) << methods(secondRequests);
  expectPlaying(state, index, utf8ToGbk(second));
  EXPECT_TRUE(messages.messages().empty());
}

TEST(RealRenderersPush, GmediarenderRecordedFromItsDescriptionPlaysThePushedUrlDespiteItsTrailingSlash) {
  ASSERT_FALSE(TestClip::path().empty()) << "the test clip could not be made";
  testing::MessageCollector messages;
  RealRenderer gmediarender(RealRendererKind::kGmediarender, TAVRIN_LAN_SCRIPT);
  testing::LogOnFailure logs{gmediarender};
  ASSERT_TRUE(gmediarender.start()) << gmediarender.failure();
  ASSERT_TRUE(gmediarender.waitUntilServing(kRendererWaitMs)) << gmediarender.failure();
  RequestLog requests;
  ClipServer server;
  ASSERT_TRUE(server.start());
  const std::string url = server.serve("/media/clip.mp4", "clip=1&by=pushUrl", requests);

  testing::LanHttpAnswer description = testing::lanHttpGet(gmediarender.descriptionUrl(), 5000);
  ASSERT_TRUE(description.complete);
  ASSERT_EQ(description.status, 200);
  KeyValueMap record = recordFromDescription(description.body, gmediarender.descriptionUrl(), gmediarender.uuid());
  ASSERT_EQ(record.getText("url"), gmediarender.baseUrl() + "/");
  ASSERT_EQ(record.getText("//service[1].serviceType"), kAvTransportType);
  ASSERT_EQ(record.getText("//service[1].controlURL"), "/upnp/control/rendertransport1");

  RunningCore core;
  AppState& state = core.state;
  state.deviceList->appendMap(record);
  const int index = state.deviceList->count();

  // A control path with "//" would get a broken answer and nothing would
  // play.
  pushUrl(state, url, index);
  ASSERT_TRUE(fetched(requests)) << methods(requests);
  expectPlaying(state, index, url);
  EXPECT_TRUE(messages.messages().empty());
}

}  // namespace
}  // namespace tavrin

// The test clip is made once for the whole program.
static testing::Environment* const clipEnvironment =
    testing::AddGlobalTestEnvironment(new tavrin::testing::TestClip);
