#include <gtest/gtest.h>

#include <map>

#include "app/app_state.h"
#include "fixtures/scripted_http_server.h"
#include "platform/text_encoding.h"
#include "ssdp/device_list_builder.h"

namespace tavrin {
namespace {

using testing::RecordedRequest;
using testing::ScriptedHttpServer;

std::string description(const std::string& name, bool dlna, const std::string& urlBase, int services) {
  std::string xml = "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\" "
                    "xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">";
  if (!urlBase.empty()) xml += "<URLBase>" + urlBase + "</URLBase>";
  xml += "<device><deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>";
  if (dlna) xml += "<dlna:X_DLNADOC>DMR-1.50</dlna:X_DLNADOC>";
  xml += "<friendlyName>" + name + "</friendlyName><serviceList>";
  for (int i = 1; i <= services; ++i) {
    std::string n = std::to_string(i);
    xml += "<service><serviceType>urn:schemas-upnp-org:service:S" + n + ":1</serviceType><serviceId>id" + n +
           "</serviceId><SCPDURL>/scpd" + n + ".xml</SCPDURL><controlURL>/ctl" + n +
           "</controlURL><eventSubURL>/ev</eventSubURL></service>";
  }
  return xml + "</serviceList></device></root>";
}

std::string answer(const std::string& location, const std::string& usn) {
  return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: " + location +
         "\r\nST: upnp:rootdevice\r\nUSN: " + usn + "\r\n\r\n";
}

class DeviceListBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initAppState(state_);
    state_.deviceFoundCallback = [this](int index) { found_.push_back(index); };
  }
  void TearDown() override { shutdownAppState(state_); }

  // Descriptions by path; every fetch is recorded by the server.
  std::map<std::string, std::string> documents_;
  ScriptedHttpServer server_{[this](const RecordedRequest& request) {
    auto document = documents_.find(request.path());
    return document == documents_.end() ? ScriptedHttpServer::answer("not here", "", "404 Not Found")
                                        : ScriptedHttpServer::answer(document->second);
  }};
  AppState state_;
  std::vector<int> found_;
};

TEST_F(DeviceListBuilderTest, AddsEachNewDlnaDeviceOnceWithItsServices) {
  documents_["/tv.xml"] = description("客厅 TV", true, "", 3);
  documents_["/box.xml"] = description("Box", true, "http://10.0.0.9:1234/", 1);
  std::string tv = server_.url("/tv.xml");
  handleSsdpAnswer(state_, answer(tv, "uuid:2fac1234-31f8-11b4-a222-08002b34c003::upnp:rootdevice"));
  handleSsdpAnswer(state_, answer(tv, "uuid:2fac1234-31f8-11b4-a222-08002b34c003::upnp:rootdevice"));
  handleSsdpAnswer(state_, "NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\nLocation: " + server_.url("/box.xml") +
                               "\r\nUSN: uuid:box::urn:schemas-upnp-org:device:MediaRenderer:1\r\n\r\n");

  EXPECT_EQ(found_, (std::vector<int>{1, 2}));
  EXPECT_EQ(server_.requests().size(), 3u);  // the repeated answer is fetched too
  KeyValueMap first;
  ASSERT_TRUE(state_.deviceList->getMap(1, first));
  EXPECT_EQ(first.getKeys(), (std::vector<std::string>{"uuid", "name", "url", "service"}));
  EXPECT_EQ(first.getText("uuid"), "2fac1234-31f8-11b4-a222-08002b34c003");
  EXPECT_EQ(first.getText("name"), utf8ToGbk("客厅 TV"));
  EXPECT_EQ(first.getText("url"), "http://127.0.0.1:" + std::to_string(server_.port()));
  EXPECT_EQ(first.count("service"), 3);
  EXPECT_EQ(first.getText("//service[2].controlURL"), "/ctl2");
  EXPECT_EQ(first.getMap("//service[3]").getKeys(),
            (std::vector<std::string>{"serviceId", "SCPDURL", "serviceType", "controlURL"}));
  EXPECT_EQ(state_.deviceList->getText(2, "url"), "http://10.0.0.9:1234/");
  EXPECT_EQ(state_.deviceList->getText(2, "uuid"), "box");
}

TEST_F(DeviceListBuilderTest, DropsWhatIsNoNewDlnaDevice) {
  documents_["/plain.xml"] = description("Plain UPnP", false, "", 1);
  documents_["/tv.xml"] = description("TV", true, "", 1);
  const std::string datagrams[] = {
      "M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\n\r\n",
      "NOTIFY * HTTP/1.1\r\nNTS: ssdp:byebye\r\nUSN: uuid:tv::upnp:rootdevice\r\n\r\n",
      answer(server_.url("/plain.xml"), "uuid:plain::upnp:rootdevice"),
      answer(server_.url("/tv.xml"), "uuid:abc"),
      answer(server_.url("/missing.xml"), "uuid:missing::upnp:rootdevice"),
      answer("http://127.0.0.1:1/closed.xml", "uuid:closed::upnp:rootdevice"),
      std::string("\x00\xff garbage", 10),
  };
  for (const std::string& datagram : datagrams) handleSsdpAnswer(state_, datagram);
  EXPECT_EQ(state_.deviceList->count(), 0);
  EXPECT_TRUE(found_.empty());
  // Each datagram with a reachable location was fetched once.
  EXPECT_EQ(server_.requests().size(), 3u);
}

TEST_F(DeviceListBuilderTest, NumbersFollowTheListAndTheFirstOfTwoIdsWins) {
  documents_["/a.xml"] = description("A", true, "", 0);
  documents_["/b.xml"] = description("B", true, "", 0);
  state_.deviceList->appendMap(KeyValueMap::createMapFromPairs({{"uuid", "one"}}));
  state_.deviceList->appendMap(KeyValueMap::createMapFromPairs({{"uuid", "two"}}));
  handleSsdpAnswer(state_, answer(server_.url("/a.xml"), "uuid:same::upnp:rootdevice"));
  handleSsdpAnswer(state_, answer(server_.url("/b.xml"), "uuid:same::upnp:rootdevice"));
  EXPECT_EQ(found_, std::vector<int>{3});
  EXPECT_EQ(state_.deviceList->getText(3, "name"), "A");
  EXPECT_EQ(state_.deviceList->getText(3, "service"), "[]");
}

TEST(BaseUrlFromLocation, CutsBeforeThePathFromTheTenthCharacter) {
  EXPECT_EQ(baseUrlFromLocation("http://192.168.1.20:49152/description.xml"), "http://192.168.1.20:49152");
  EXPECT_EQ(baseUrlFromLocation("http://a/b"), "http://a/b");
  EXPECT_EQ(baseUrlFromLocation("http://ab/c"), "http://ab");
  EXPECT_EQ(baseUrlFromLocation("short"), "short");
  EXPECT_EQ(baseUrlFromLocation("http://10.0.0.1:80"), "http://10.0.0.1:80");
}

}  // namespace
}  // namespace tavrin
