#include <gtest/gtest.h>

#include "app/app_state.h"
#include "control/av_transport.h"
#include "fixtures/scripted_http_server.h"
#include "platform/key_value_map.h"

namespace tavrin {
namespace {

using testing::RecordedRequest;
using testing::ScriptedHttpServer;

KeyValueMap service(const std::string& type, const std::string& control) {
  return KeyValueMap::createMapFromPairs(
      {{"serviceId", "id"}, {"SCPDURL", "/scpd.xml"}, {"serviceType", type}, {"controlURL", control}});
}

KeyValueMap device(const std::string& url, std::vector<KeyValue> services) {
  return KeyValueMap::createMapFromPairs(
      {{"uuid", "u"}, {"name", "TV"}, {"url", url}, {"service", KeyValue::listOf(std::move(services))}});
}

std::string soapAction(const RecordedRequest& request) {
  size_t start = request.head.find("SOAPAction: ");
  return request.head.substr(start + 12, request.head.find("\r\n", start) - start - 12);
}

class AvTransportTest : public ::testing::Test {
 protected:
  void SetUp() override { initAppState(state_); }
  void TearDown() override { shutdownAppState(state_); }

  std::string base() const { return "http://127.0.0.1:" + std::to_string(renderer_.port()); }
  int add(const KeyValueMap& record) {
    state_.deviceList->appendMap(record);
    return state_.deviceList->count();
  }

  std::string reply_ = ScriptedHttpServer::answer("");
  ScriptedHttpServer renderer_{[this](const RecordedRequest&) { return reply_; }};
  AppState state_;
};

TEST_F(AvTransportTest, PushSendsSetUriThenPlayToTheTransportService) {
  int index = add(device(base(), {service("urn:schemas-upnp-org:service:ConnectionManager:1", "/cm"),
                                  service("urn:schemas-upnp-org:service:AVTransport:1", "/avt"),
                                  service("urn:schemas-upnp-org:service:RenderingControl:1", "/rc")}));
  pushUrl(state_, "http://h/live.m3u8?a=1&b=2&amp;c", index);
  std::vector<RecordedRequest> requests = renderer_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].path(), "/avt");
  EXPECT_EQ(requests[1].path(), "/avt");
  EXPECT_EQ(soapAction(requests[0]), "\"urn:schemas-upnp-org:service:AVTransport:1#SetAVTransportURI\"");
  EXPECT_EQ(soapAction(requests[1]), "\"urn:schemas-upnp-org:service:AVTransport:1#Play\"");
  EXPECT_NE(requests[0].body.find("      <InstanceID>0</InstanceID>\r\n"
                                  "<CurrentURI>http://h/live.m3u8?a=1&amp;b=2&amp;amp;c</CurrentURI>\r\n"
                                  "<CurrentURIMetaData></CurrentURIMetaData>\r\n\r\n"),
            std::string::npos)
      << requests[0].body;
  EXPECT_NE(requests[1].body.find("      <InstanceID>0</InstanceID>\r\n<Speed>1</Speed>\r\n\r\n"), std::string::npos);
}

TEST_F(AvTransportTest, AnotherVersionIsUsedWithItsOwnTypeAndNoServiceMeansTheBase) {
  int version2 = add(device(base() + "/", {service("urn:schemas-upnp-org:service:ConnectionManager:2", "/cm"),
                                           service("urn:schemas-upnp-org:service:AVTransport:2", "/avt2")}));
  int none = add(device(base(), {service("urn:schemas-upnp-org:service:ConnectionManager:1", "/cm")}));
  pushUrl(state_, "http://h/a.mp4", version2);
  pushUrl(state_, "http://h/a.mp4", none);
  std::vector<RecordedRequest> requests = renderer_.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].path(), "/avt2");
  EXPECT_EQ(soapAction(requests[1]), "\"urn:schemas-upnp-org:service:AVTransport:2#Play\"");
  EXPECT_EQ(requests[2].path(), "/");
  EXPECT_EQ(soapAction(requests[3]), "\"urn:schemas-upnp-org:service:AVTransport:1#Play\"");
}

TEST_F(AvTransportTest, FindServicePrefersTheExactType) {
  KeyValueMap record = device(base(), {service("urn:schemas-upnp-org:service:AVTransport:2", "/2"),
                                       service("urn:schemas-upnp-org:service:AVTransport:1", "/1")});
  EXPECT_EQ(findService(record, "urn:schemas-upnp-org:service:AVTransport:1"), 2);
  EXPECT_EQ(findService(record, "urn:schemas-upnp-org:service:AVTransport:3"), 1);
  EXPECT_EQ(findService(record, "urn:schemas-upnp-org:service:RenderingControl:1"), 3);
  EXPECT_EQ(findService(KeyValueMap(), "urn:schemas-upnp-org:service:AVTransport:1"), 1);
}

TEST_F(AvTransportTest, FetchReturnsTheCurrentUriOrNothing) {
  int index = add(device(base(), {service("urn:schemas-upnp-org:service:AVTransport:1", "/avt")}));
  const std::string head =
      "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
  struct Case {
    std::string body, uri;
  };
  const Case cases[] = {
      {head + "<u:GetMediaInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\"><NrTracks>1</NrTracks>"
              "<CurrentURI>http://h/a.m3u8?x=1&amp;y=2</CurrentURI></u:GetMediaInfoResponse></s:Body></s:Envelope>",
       "http://h/a.m3u8?x=1&y=2"},
      {head + "<u:GetMediaInfoResponse xmlns:u=\"x\"><CurrentURI></CurrentURI></u:GetMediaInfoResponse>"
              "</s:Body></s:Envelope>",
       ""},
      {head + "<s:Fault><faultcode>s:Client</faultcode><detail><UPnPError><errorCode>701</errorCode></UPnPError>"
              "</detail></s:Fault></s:Body></s:Envelope>",
       ""},
      {"garbage", ""},
  };
  for (const Case& c : cases) {
    reply_ = ScriptedHttpServer::answer(c.body);
    EXPECT_EQ(fetchCurrentUri(state_, index), c.uri) << c.body;
  }
  std::vector<RecordedRequest> requests = renderer_.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_NE(requests[0].body.find("<u:GetMediaInfo xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">\r\n"
                                  "      <InstanceID>0</InstanceID>\r\n\r\n    </u:GetMediaInfo>"),
            std::string::npos);
  EXPECT_EQ(fetchCurrentUri(state_, 0), "");
  EXPECT_EQ(renderer_.requests().size(), 4u);
}

}  // namespace
}  // namespace tavrin
