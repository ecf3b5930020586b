// The complete renderer's documents and actions, through its request
// handler as the server's workers call it.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "cli/complete_renderer.h"
#include "platform/text_encoding.h"
#include "platform/xml_document.h"

namespace tavrin {
namespace {

std::string soap(const std::string& type, const std::string& action, const std::string& arguments) {
  return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
         "<u:" + action + " xmlns:u=\"" + type + "\"><InstanceID>0</InstanceID>" + arguments + "</u:" + action +
         "></s:Body></s:Envelope>";
}

class CompleteRenderer : public ::testing::Test {
 protected:
  void SetUp() override {
    initAppState(state);
    state.rendererAddress.set("10.77.0.1:18889");
    state.rendererFriendlyName.set(utf8ToGbk("Morla小站"));
  }
  void TearDown() override { shutdownAppState(state); }

  std::string get(const std::string& path) {
    HttpResponse response;
    EXPECT_TRUE(handleCompleteRendererRequest(state, settings, HttpRequest("GET", path, {}, ""), response));
    return response.body();
  }
  std::string post(const std::string& service, const std::string& type, const std::string& action,
                   const std::string& arguments = "") {
    HttpResponse response;
    const std::string path = "/_urn:schemas-upnp-org:service:" + service + "_control";
    EXPECT_TRUE(handleCompleteRendererRequest(state, settings,
                                              HttpRequest("POST", path, {}, soap(type, action, arguments)),
                                              response));
    return response.body();
  }

  AppState state;
  RenderingSettings settings;
};

TEST_F(CompleteRenderer, DescriptionListsThreeServicesWhoseDocumentsAreServedAndWellFormed) {
  const std::string description = get("/description.xml");
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(description));
  EXPECT_EQ(document.nodeText("root/URLBase"), "http://10.77.0.1:18889");
  EXPECT_EQ(document.nodeText("root/device/friendlyName"), "Morla小站");
  ASSERT_EQ(document.childCount("root/device/serviceList"), 3);
  for (int i = 1; i <= 3; ++i) {
    const std::string service = "root/device/serviceList/@" + std::to_string(i);
    const std::string scpd = get("/" + document.nodeText(service + "/SCPDURL"));
    XmlDocument parsed;
    EXPECT_TRUE(parsed.loadBytes(scpd)) << document.nodeText(service + "/SCPDURL");
    EXPECT_GT(parsed.childCount("scpd/actionList"), 0);
  }
  EXPECT_EQ(document.nodeText("root/device/serviceList/@2/serviceType"), kConnectionManagerType);
  EXPECT_EQ(document.nodeText("root/device/serviceList/@3/serviceType"), kRenderingControlType);
  EXPECT_NE(get("/ConnectionManager.scpd.xml").find("<name>GetProtocolInfo</name>"), std::string::npos);
  EXPECT_NE(get("/RenderingControl.scpd.xml").find("<name>SetVolume</name>"), std::string::npos);
}

TEST_F(CompleteRenderer, ConnectionManagerAnswersWithSinkProtocolsAndTheOneConnection) {
  const std::string info = post("ConnectionManager", kConnectionManagerType, "GetProtocolInfo");
  EXPECT_NE(info.find("<u:GetProtocolInfoResponse xmlns:u=\"" + std::string(kConnectionManagerType) + "\">"),
            std::string::npos);
  EXPECT_NE(info.find("<Source></Source><Sink>"), std::string::npos);
  for (const char* type : {"http-get:*:video/mp4:*", "http-get:*:audio/mpeg:*", "http-get:*:image/jpeg:*"}) {
    EXPECT_NE(info.find(type), std::string::npos) << type;
  }
  EXPECT_NE(post("ConnectionManager", kConnectionManagerType, "GetCurrentConnectionIDs")
                .find("<ConnectionIDs>0</ConnectionIDs>"),
            std::string::npos);
  const std::string connection = post("ConnectionManager", kConnectionManagerType, "GetCurrentConnectionInfo",
                                      "<ConnectionID>0</ConnectionID>");
  EXPECT_NE(connection.find("<Direction>Input</Direction><Status>OK</Status>"), std::string::npos) << connection;
}

TEST_F(CompleteRenderer, RenderingControlKeepsVolumeAndMuteAndIgnoresInvalidValues) {
  const auto volume = [&] { return post("RenderingControl", kRenderingControlType, "GetVolume"); };
  EXPECT_NE(volume().find("<CurrentVolume>30</CurrentVolume>"), std::string::npos);
  post("RenderingControl", kRenderingControlType, "SetVolume", "<Channel>Master</Channel><DesiredVolume>57</DesiredVolume>");
  EXPECT_NE(volume().find("<CurrentVolume>57</CurrentVolume>"), std::string::npos);
  for (const char* bad : {"101", "-3", "loud", "", "99999"}) {
    post("RenderingControl", kRenderingControlType, "SetVolume",
         std::string("<Channel>Master</Channel><DesiredVolume>") + bad + "</DesiredVolume>");
    EXPECT_NE(volume().find("<CurrentVolume>57</CurrentVolume>"), std::string::npos) << bad;
  }
  EXPECT_NE(post("RenderingControl", kRenderingControlType, "GetMute").find("<CurrentMute>0</CurrentMute>"),
            std::string::npos);
  post("RenderingControl", kRenderingControlType, "SetMute", "<Channel>Master</Channel><DesiredMute>true</DesiredMute>");
  EXPECT_NE(post("RenderingControl", kRenderingControlType, "GetMute").find("<CurrentMute>1</CurrentMute>"),
            std::string::npos);
}

TEST_F(CompleteRenderer, AvTransportStaysTheSniffingRenderers) {
  std::string captured;
  state.captureCallback = [&captured](const std::string& uri) { captured = uri; };
  const std::string answer = post("AVTransport", "urn:schemas-upnp-org:service:AVTransport:1", "SetAVTransportURI",
                                  "<CurrentURI>http://x/a.m3u8?a=1&amp;b=2</CurrentURI>");
  EXPECT_NE(answer.find("SetAVTransportURIResponse"), std::string::npos);
  EXPECT_EQ(captured, "http://x/a.m3u8?a=1&b=2");
  EXPECT_NE(get("/AVTransport.scpd.xml").find("SetAVTransportURI"), std::string::npos);
}

}  // namespace
}  // namespace tavrin
