// Discovery on the test LAN: the program's core runs on "host" as the
// program runs it; fixture renderers on tv and tv2 answer its searches and
// announce themselves, and a phone app searches for the program's own
// sniffing renderer.
#include <gtest/gtest.h>

#include <thread>

#include "discovery_session.h"

namespace tavrin::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kRendererPort = 18889;

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// A phone app's search for renderers; the datagrams that came back, as
// "address:port" and bytes.
std::vector<std::pair<std::string, std::string>> searchFromPhone() {
  auto phone = startFixture("phone", {"--search", "--source-port", "41901", "--listen-ms", "1500"}, 10);
  EXPECT_EQ(phone->waitForExit(seconds(10)), 0);
  std::vector<std::pair<std::string, std::string>> answers;
  for (const std::string& line : phone->lines()) {
    if (line.rfind("answer ", 0) != 0) continue;
    size_t space = line.find(' ', 7);
    answers.emplace_back(line.substr(7, space - 7), fromHex(line.substr(space + 1)));
  }
  return answers;
}

// Waits until the fixture has reported `count` fetches, then a little longer
// so that a fetch too many would show.
bool settleFetches(const LanProcess& fixture, size_t count) {
  bool reached = fixture.waitForLines("fetch ", count, seconds(15));
  std::this_thread::sleep_for(milliseconds(300));
  return reached;
}

TEST(DiscoveryLan, ListsTheDlnaRenderersThatAnswerAndFetchesOncePerAnswer) {
  // Each device answers every search twice; 3 is a plain UPnP device, 4 has
  // a USN without a second ":", 5 names a closed port.
  auto tv = startFixture("tv", {"--device", "dlna", "--device", "urlbase", "--device", "plain", "--device",
                                "shortusn", "--device", "closed", "--device", "dlna", "--repeat", "2"});
  const int port = waitUntilReady(*tv);
  ASSERT_GT(port, 0);
  const std::string base = "http://10.77.0.2:" + std::to_string(port);

  DiscoverySession session;
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(session.waitForCallbacks(3, seconds(15)));
  // Two answers for each of the five devices whose port is open.
  EXPECT_TRUE(settleFetches(*tv, 10));

  const std::vector<ListedDevice> expected = {
      {"fixture-tv-1", "tv 电视 1", base, 3},
      {"fixture-tv-2", "tv 电视 2", base + "/base/", 3},
      {"fixture-tv-6", "tv 电视 6", base, 3},
  };
  EXPECT_EQ(session.devices(), expected);
  EXPECT_EQ(session.indices(), (std::vector<int>{1, 2, 3}));
  // The whole record, services in document order with their URLs as written.
  EXPECT_EQ(gbkToUtf8(session.state.deviceList->get(1).asText()),
            "{\"uuid\":\"fixture-tv-1\",\"name\":\"tv 电视 1\",\"url\":\"" + base +
                "\",\"service\":["
                "{\"serviceId\":\"urn:upnp-org:serviceId:AVTransport\",\"SCPDURL\":\"/d/1/avt.xml\","
                "\"serviceType\":\"urn:schemas-upnp-org:service:AVTransport:1\",\"controlURL\":\"/d/1/avt/control\"},"
                "{\"serviceId\":\"urn:upnp-org:serviceId:RenderingControl\",\"SCPDURL\":\"rc.xml\","
                "\"serviceType\":\"urn:schemas-upnp-org:service:RenderingControl:1\",\"controlURL\":\"rc/control\"},"
                "{\"serviceId\":\"urn:upnp-org:serviceId:ConnectionManager\",\"SCPDURL\":\"/d/1/cm.xml\","
                "\"serviceType\":\"urn:schemas-upnp-org:service:ConnectionManager:1\","
                "\"controlURL\":\"/d/1/cm/control\"}]}");
  EXPECT_EQ(session.text(2, "//service[2].controlURL"), "rc/control");

  // Every answer with a location was one fetch of it, also for devices
  // already listed or not added; the answers naming the closed port led to
  // nothing.
  EXPECT_EQ(tv->countLines("search 10.77.0.1:1900"), 1u);
  for (int device : {1, 2, 3, 4, 6}) {
    const std::string path = "/d/" + std::to_string(device) + ".xml";
    EXPECT_EQ(countLinesEndingWith(*tv, "sent ", path), 2u) << path;
    EXPECT_EQ(tv->countLines("fetch " + path + " 10.77.0.1:"), 2u) << path;
  }
  EXPECT_EQ(countLinesEndingWith(*tv, "sent ", "/d/5.xml"), 2u);
  EXPECT_EQ(tv->countLines("fetch "), 10u);

  // The search button: the list starts again from 1 with the same devices.
  repeatSearch(session.state);
  ASSERT_TRUE(session.waitForCallbacks(6, seconds(15)));
  EXPECT_TRUE(settleFetches(*tv, 20));
  EXPECT_EQ(session.indices(), (std::vector<int>{1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(session.devices(), expected);
  EXPECT_EQ(tv->countLines("search 10.77.0.1:1900"), 2u);
  EXPECT_EQ(tv->countLines("fetch "), 20u);
  EXPECT_TRUE(session.messages.messages().empty());
}

TEST(DiscoveryLan, AnnouncementsAddARendererOnceAndDepartureChangesNothing) {
  DiscoverySession session;
  ASSERT_TRUE(session.start());
  // Arrives, leaves, arrives again: one record, one callback, and a fetch
  // for each arrival but none for the departure, which has no location.
  auto tv2 = startFixture("tv2", {"--device", "dlna", "--send", "alive", "--send", "byebye", "--send", "alive"});
  ASSERT_GT(waitUntilReady(*tv2), 0);
  ASSERT_TRUE(session.waitForCallbacks(1, seconds(15)));
  EXPECT_TRUE(settleFetches(*tv2, 2));
  EXPECT_TRUE(tv2->waitForLines("end /d/1.xml", 2, seconds(5)));

  ASSERT_EQ(session.devices().size(), 1u);
  EXPECT_EQ(session.devices()[0].uuid, "fixture-tv2-1");
  EXPECT_EQ(session.devices()[0].name, "tv2 电视 1");
  EXPECT_EQ(session.indices(), std::vector<int>{1});
  EXPECT_EQ(tv2->countLines("fetch /d/1.xml 10.77.0.1:"), 2u);
  EXPECT_EQ(tv2->countLines("fetch "), 2u);
}

// The program's answer for its sniffing renderer on port 18889, as it goes
// out for a sender in 10.77.0.x: the answer text with the address in it,
// UTF-8, and one zero byte at its end. (With a 17-character address such as
// 192.168.1.5:18889 it is 280 bytes; 10.77.0.1:18889 has 15.)
const std::string kAnswerToPhone = std::string(
    "HTTP/1.1 200 OK\r\n"
    "ST: upnp:rootdevice\r\n"
    "USN: uuid:KQVDKQVDKQVD::upnp:rootdevice\r\n"
    "Location: http://10.77.0.1:18889/description.xml\r\n"
    "OPT:\"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
    "Cache-Control: max-age=1800\r\n"
    "Server: Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0\r\n"
    "Ext: \r\n"
    "\r\n\0",
    278);

TEST(DiscoveryLan, AnswersSearchesOnlyWhileTheSniffingRendererRuns) {
  DiscoverySession session;
  ASSERT_TRUE(session.start());
  // The program's own first search came back while the renderer was
  // stopped, so nothing answered it.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(session.state.rendererAddress.get(), "");
  EXPECT_TRUE(searchFromPhone().empty());

  ASSERT_TRUE(session.state.rendererServer->start(kRendererPort));
  session.state.rendererPort = kRendererPort;
  auto answers = searchFromPhone();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, "10.77.0.1:1900");
  EXPECT_EQ(answers[0].second.size(), 278u);
  EXPECT_EQ(answers[0].second, kAnswerToPhone);
  EXPECT_EQ(session.state.rendererAddress.get(), "10.77.0.1:18889");

  session.state.rendererServer->stop();
  EXPECT_TRUE(searchFromPhone().empty());
  // Searches are never taken for devices.
  EXPECT_EQ(session.state.deviceList->count(), 0);
  EXPECT_TRUE(session.indices().empty());
}

TEST(DiscoveryLan, OwnSearchFindsTheOwnSniffingRenderer) {
  // Declared before the session, whose server's handler uses them until
  // the session is shut down.
  int descriptionFetches = 0;
  std::mutex fetchMutex;
  DiscoverySession session;
  // A description such as the sniffing renderer serves, DLNA element included.
  session.state.rendererServer->registerPathHandler(
      [&](const HttpRequest&, HttpResponse& response) {
        {
          std::lock_guard<std::mutex> lock(fetchMutex);
          ++descriptionFetches;
        }
        response.setHeader("Content-Type", "text/xml; charset=\"utf-8\"");
        return response.writeData(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">"
            "<device><deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>"
            "<dlna:X_DLNADOC>DMR-1.50</dlna:X_DLNADOC><friendlyName>Tavrin 嗅探</friendlyName>"
            "<UDN>uuid:KQVDKQVDKQVD</UDN><serviceList><service>"
            "<serviceType>urn:schemas-upnp-org:service:AVTransport:1</serviceType>"
            "<serviceId>urn:upnp-org:serviceId:AVTransport</serviceId><SCPDURL>/AVTransport.scpd.xml</SCPDURL>"
            "<controlURL>/AVTransport/control</controlURL></service></serviceList></device></root>");
      },
      "/description.xml");
  ASSERT_TRUE(session.state.rendererServer->start(kRendererPort));
  session.state.rendererPort = kRendererPort;

  // The first search loops back, is answered by the program itself, and the
  // answer leads to its own description.
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(session.waitForCallbacks(1, seconds(10)));
  const std::vector<ListedDevice> own = {{"KQVDKQVDKQVD", "Tavrin 嗅探", "http://10.77.0.1:18889", 1}};
  EXPECT_EQ(session.devices(), own);
  EXPECT_EQ(session.text(1, "//service[1].controlURL"), "/AVTransport/control");
  EXPECT_EQ(session.state.rendererAddress.get(), "10.77.0.1:18889");

  repeatSearch(session.state);
  ASSERT_TRUE(session.waitForCallbacks(2, seconds(10)));
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(session.indices(), (std::vector<int>{1, 1}));
  EXPECT_EQ(session.devices(), own);
  std::lock_guard<std::mutex> lock(fetchMutex);
  EXPECT_EQ(descriptionFetches, 2);
}

}  // namespace
}  // namespace tavrin::testing
