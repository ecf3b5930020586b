#include <gtest/gtest.h>

#include "control/soap_action.h"
#include "fixtures/scripted_http_server.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using testing::RecordedRequest;
using testing::ScriptedHttpServer;

const char kPlayEnvelope[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
    "  <s:Body>\r\n"
    "    <u:Play xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">\r\n"
    "      <InstanceID>0</InstanceID>\r\n"
    "<Speed>1</Speed>\r\n"
    "\r\n"
    "    </u:Play>\r\n"
    "  </s:Body>\r\n"
    "</s:Envelope>";

const char kPlayHeaders[] =
    "SOAPAction: \"urn:schemas-upnp-org:service:AVTransport:1#Play\"\r\n"
    "User-Agent: UPnP/1.0 DLNADOC/1.50 Platinum/1.0.5.13\r\n"
    "Content-Type: text/xml; charset=\"utf-8\"";

std::string playArguments() {
  return KeyValueMap::createMapFromPairs({{"InstanceID", 0}, {"Speed", "1"}}).toJson();
}

TEST(SoapAction, BuildsTheEnvelopeAndHeadersExactly) {
  EXPECT_EQ(buildSoapEnvelope("urn:schemas-upnp-org:service:AVTransport:1", "Play", playArguments()),
            kPlayEnvelope);
  EXPECT_EQ(buildSoapHeaders("urn:schemas-upnp-org:service:AVTransport:1", "Play"), kPlayHeaders);
  // The templates themselves: 119 and 281 bytes ("[xmldata]" filled with nothing).
  EXPECT_EQ(buildSoapHeaders("[type]", "[fs]").size(), 119u);
  EXPECT_EQ(buildSoapEnvelope("[deviceType]", "[action]", "{}").size(), 281u - 9);
  // Without arguments the argument line is six spaces.
  std::string empty = buildSoapEnvelope("urn:x:1", "Stop", "{}");
  EXPECT_NE(empty.find("xmlns:u=\"urn:x:1\">\r\n      \r\n    </u:Stop>"), std::string::npos);
}

TEST(SoapAction, JoinsBaseAndControlPathWithOneSlash) {
  struct Case {
    const char *base, *control, *url;
  };
  const Case cases[] = {
      {"http://10.0.0.7:18889", "_urn:schemas-upnp-org:service:AVTransport_control",
       "http://10.0.0.7:18889/_urn:schemas-upnp-org:service:AVTransport_control"},
      {"http://10.0.0.7:18889", "/ctl", "http://10.0.0.7:18889/ctl"},
      {"http://10.0.0.7:18889", "", "http://10.0.0.7:18889/"},
      {"http://10.0.0.2:49494/", "/upnp/control/rendertransport1",
       "http://10.0.0.2:49494/upnp/control/rendertransport1"},
      {"http://10.0.0.2:49494/", "ctl", "http://10.0.0.2:49494/ctl"},
      {"http://10.0.0.2:49494/", "", "http://10.0.0.2:49494/"},
  };
  for (const Case& c : cases) EXPECT_EQ(controlRequestUrl(c.base, c.control), c.url) << c.base << c.control;
}

TEST(SoapAction, ParsesAnswersIntoActionResults) {
  struct Case {
    std::string body, action, result;
  };
  const std::string envelope = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
  const std::string end = "</s:Body></s:Envelope>";
  const Case cases[] = {
      {envelope + "<u:GetMediaInfoResponse xmlns:u=\"urn:x\"><NrTracks>1</NrTracks><CurrentURI>http://a/b?x=1&amp;y=2</CurrentURI></u:GetMediaInfoResponse>" + end,
       "GetMediaInfo", "{\"check\":true,\"data\":{\"NrTracks\":\"1\",\"CurrentURI\":\"http://a/b?x=1&y=2\"}}"},
      {envelope + "<U:getmediainforesponse xmlns:U=\"urn:x\"/>" + end, "GetMediaInfo", "{\"check\":true,\"data\":{}}"},
      {envelope + "<GetMediaInfoResponse><A>1</A></GetMediaInfoResponse>" + end, "GetMediaInfo",
       "{\"check\":false,\"data\":{\"A\":\"1\"}}"},
      {envelope + "<u:PlayResponse xmlns:u=\"urn:x\"><A>1</A><B/><A>2</A></u:PlayResponse>" + end, "Play",
       "{\"check\":true,\"data\":{\"A\":\"2\",\"B\":\"\"}}"},
      {envelope + "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring></s:Fault>" + end,
       "Play", "{\"check\":false,\"data\":{\"faultcode\":\"s:Client\",\"faultstring\":\"UPnPError\"}}"},
      {"<SOAP-ENV:Envelope><SOAP-ENV:Body><u:PlayResponse/></SOAP-ENV:Body></SOAP-ENV:Envelope>", "Play",
       "{\"check\":false,\"data\":{}}"},
      {"not xml at all", "Play", "{\"check\":false,\"data\":{}}"},
      {"", "Play", "{\"check\":false,\"data\":{}}"},
  };
  for (const Case& c : cases) EXPECT_EQ(parseSoapResponse(c.body, c.action), c.result) << c.body;
}

TEST(SoapAction, ReadsNonAsciiAnswersAsTheProgramsTexts) {
  std::string body =
      "<s:Envelope xmlns:s=\"e\"><s:Body><u:GetMediaInfoResponse><CurrentURI>http://tv/电影.mp4</CurrentURI>"
      "</u:GetMediaInfoResponse></s:Body></s:Envelope>";
  KeyValueMap result;
  ASSERT_TRUE(result.fromJson(parseSoapResponse(body, "GetMediaInfo")));
  EXPECT_EQ(result.getText("//data.CurrentURI"), utf8ToGbk("http://tv/电影.mp4"));
}

TEST(SoapAction, PostsTheEnvelopeAsUtf8WithTheSoapHeaders) {
  ScriptedHttpServer renderer([](const RecordedRequest&) {
    return ScriptedHttpServer::answer("<s:Envelope/>");
  });
  std::string base = "http://127.0.0.1:" + std::to_string(renderer.port()) + "/";
  std::string arguments = KeyValueMap::createMapFromPairs({{"InstanceID", 0},
                                                           {"CurrentURI", utf8ToGbk("http://h/电影.mp4")},
                                                           {"CurrentURIMetaData", ""}})
                              .toJson();
  EXPECT_EQ(sendSoapAction(base, "/ctl", "urn:schemas-upnp-org:service:AVTransport:1", "SetAVTransportURI",
                           arguments),
            "<s:Envelope/>");
  ASSERT_EQ(renderer.requests().size(), 1u);
  const RecordedRequest request = renderer.requests()[0];
  std::string url = base + "ctl";
  EXPECT_EQ(request.head, "POST /ctl HTTP/1.1\r\n"
                          "Host: 127.0.0.1:" + std::to_string(renderer.port()) + "\r\n"
                          "SOAPAction: \"urn:schemas-upnp-org:service:AVTransport:1#SetAVTransportURI\"\r\n"
                          "User-Agent: UPnP/1.0 DLNADOC/1.50 Platinum/1.0.5.13\r\n"
                          "Content-Type: text/xml; charset=\"utf-8\"\r\n"
                          "Accept: */*\r\n"
                          "Referer: " + url + "\r\n"
                          "Accept-Language: zh-cn\r\n"
                          "Content-Length: " + std::to_string(request.body.size()) + "\r\n\r\n");
  EXPECT_NE(request.body.find("      <InstanceID>0</InstanceID>\r\n<CurrentURI>http://h/电影.mp4</CurrentURI>\r\n"
                              "<CurrentURIMetaData></CurrentURIMetaData>\r\n\r\n    </u:SetAVTransportURI>"),
            std::string::npos);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(SoapActionBadInput, HugeAndDeepAnswersEndInCheckFalseOrTheirData) {
  const std::string head = "<s:Envelope xmlns:s=\"e\"><s:Body><u:PlayResponse xmlns:u=\"x\">";
  const std::string tail = "</u:PlayResponse></s:Body></s:Envelope>";
  std::string many = head;
  for (int i = 0; i < 100000; ++i) many += "<A>" + std::to_string(i) + "</A>";
  EXPECT_EQ(parseSoapResponse(many + tail, "Play"), "{\"check\":true,\"data\":{\"A\":\"99999\"}}");

  std::string deep = "<s:Envelope xmlns:s=\"e\"><s:Body>";
  for (int i = 0; i < 200000; ++i) deep += "<d>";
  EXPECT_EQ(parseSoapResponse(deep, "Play"), "{\"check\":false,\"data\":{}}");
  for (int i = 0; i < 200000; ++i) deep += "</d>";
  deep += "</s:Body></s:Envelope>";
  EXPECT_EQ(parseSoapResponse(deep, "Play"), "{\"check\":false,\"data\":{\"d\":\"\"}}");
}

TEST(SoapActionBadInput, AnAnswerThatNeverComesGivesNothing) {
  // Accepts and reads the request but closes without a word.
  ScriptedHttpServer silent([](const RecordedRequest&) { return std::string(); });
  std::string body = sendSoapAction("http://127.0.0.1:" + std::to_string(silent.port()), "/ctl",
                                    "urn:schemas-upnp-org:service:AVTransport:1", "Play", "{}");
  EXPECT_EQ(body, "");
  EXPECT_EQ(parseSoapResponse(body, "Play"), "{\"check\":false,\"data\":{}}");
}

}  // namespace
}  // namespace tavrin
