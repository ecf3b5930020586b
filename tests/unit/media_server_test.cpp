#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "app/app_state.h"
#include "fixtures/message_collector.h"
#include "fixtures/scripted_http_server.h"
#include "httpclient/http_request.h"
#include "httpserv/media_server.h"
#include "platform/local_addresses.h"
#include "platform/text_between.h"

namespace tavrin {
namespace {

using testing::MessageCollector;
using testing::RecordedRequest;
using testing::ScriptedHttpServer;

TEST(MediaServer, TimeStampCountsFromMidnightAtUtcPlusEight) {
  using namespace std::chrono;
  auto at = [](long long unixSeconds, int millis) {
    return system_clock::time_point(seconds(unixSeconds)) + milliseconds(millis);
  };
  // 2019-07-05 11:27:07 at UTC+8.
  EXPECT_EQ(makeTimeStamp(at(1562297227, 123), 8 * 3600), "1562297227");
  EXPECT_EQ(makeTimeStamp(at(1562297227, 123), 0), "1562268427");
  EXPECT_EQ(makeTimeStamp(at(5, 7), 8 * 3600), "5007000000");
  std::string now = makeTimeStamp();
  EXPECT_EQ(now.size(), 10u);
  EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos);
}

TEST(MediaServer, TextAfterLast) {
  EXPECT_EQ(textAfterLast("http://192.168.1.20:49152", "/"), "192.168.1.20:49152");
  EXPECT_EQ(textAfterLast("http://192.168.1.20:49152/", "/"), "");
  EXPECT_EQ(textAfterLast("no separator", "/"), "");
  EXPECT_EQ(textAfterLast("a--b--c", "--"), "c");
}

class LocalFilePushTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initAppState(state_);
    previous_ = setLocalAddressSource([this] { return addresses_; });
    registerMediaPath(state_);
    for (int port = 47000; port < 47100 && !state_.mediaServer->isRunning(); ++port) {
      if (state_.mediaServer->start(port)) state_.mediaServerPort = port;
    }
    ASSERT_TRUE(state_.mediaServer->isRunning());
    firstFile_ = writeFile("first.mp4", "first file bytes 0123456789");
    secondFile_ = writeFile("second.mkv", "the second one");
  }
  void TearDown() override {
    shutdownAppState(state_);
    setLocalAddressSource(previous_);
    std::remove(firstFile_.c_str());
    std::remove(secondFile_.c_str());
  }

  // Test programs run side by side: every file name is this process's own.
  std::string writeFile(const std::string& name, const std::string& bytes) {
    std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  int addRenderer(const std::string& url) {
    state_.deviceList->appendMap(KeyValueMap::createMapFromPairs(
        {{"uuid", "tv"},
         {"name", "TV"},
         {"url", url},
         {"service", KeyValue::listOf({KeyValueMap::createMapFromPairs(
                         {{"serviceType", "urn:schemas-upnp-org:service:AVTransport:1"}, {"controlURL", "/avt"}})})}}));
    return state_.deviceList->count();
  }
  // The CurrentURI of the n-th SetAVTransportURI the renderer got.
  std::string pushedUrl(size_t n) {
    std::vector<RecordedRequest> requests = renderer_.requests();
    return requests.size() > 2 * n ? textBetween(requests[2 * n].body, "<CurrentURI>", "</CurrentURI>") : "";
  }

  AppState state_;
  std::vector<std::string> addresses_{"10.0.0.5", "127.0.0.1"};
  LocalAddressSource previous_;
  ScriptedHttpServer renderer_{[](const RecordedRequest&) { return ScriptedHttpServer::answer(""); }};
  std::string firstFile_, secondFile_;
  MessageCollector messages_;
};

TEST_F(LocalFilePushTest, PushesTheMediaUrlOnTheHostsAddressInTheRenderersNetwork) {
  int index = addRenderer("http://127.0.0.1:" + std::to_string(renderer_.port()));
  pushLocalFile(state_, firstFile_, index - 1, index);
  std::string url = pushedUrl(0);
  std::string prefix = "http://127.0.0.1:" + std::to_string(state_.mediaServerPort) + "/1?";
  ASSERT_EQ(url.substr(0, prefix.size()), prefix) << url;
  EXPECT_EQ(url.size(), prefix.size() + 10);
  EXPECT_EQ(messages_.messages(), std::vector<std::string>{"完成"});
  EXPECT_EQ(httpRequest(url), "first file bytes 0123456789");

  // A late fetch of the first URL gets the file of the latest push.
  pushLocalFile(state_, secondFile_, index - 1, index);
  EXPECT_EQ(httpRequest(url), "the second one");
  EXPECT_EQ(httpRequest(pushedUrl(1)), "the second one");
}

TEST_F(LocalFilePushTest, ServesTheFileWithRangesAndDlnaHeaders) {
  state_.selectedMediaPath.set(firstFile_);
  std::string url = "http://127.0.0.1:" + std::to_string(state_.mediaServerPort) + "/1?123";
  HttpExchange ranged;
  ranged.headers = "Range: bytes=6-9\r\ngetcontentFeatures.dlna.org: 1\r\ntransferMode.dlna.org: Streaming";
  EXPECT_EQ(httpRequest(url, ranged), "file");
  EXPECT_NE(ranged.returnedHeaders.find("206"), std::string::npos);
  EXPECT_NE(ranged.returnedHeaders.find("contentFeatures.dlna.org: DLNA.ORG_OP=01;"), std::string::npos);
  EXPECT_NE(ranged.returnedHeaders.find("transferMode.dlna.org: Streaming"), std::string::npos);
  EXPECT_NE(ranged.returnedHeaders.find("Content-Type: video/mp4"), std::string::npos);

  HttpExchange plain;
  httpRequest(url, plain);
  EXPECT_EQ(plain.returnedHeaders.find("contentFeatures.dlna.org"), std::string::npos);

  // Only "/1" serves, and only the selected file.
  for (const char* path : {"/2", "/1/../../etc/passwd", "/%2e%2e/", "/1%00", "/1/"}) {
    HttpExchange other;
    std::string body = httpRequest("http://127.0.0.1:" + std::to_string(state_.mediaServerPort) + path, other);
    EXPECT_EQ(other.returnedHeaders.find(" 200 "), std::string::npos) << path << other.returnedHeaders;
    EXPECT_EQ(body.find("first file"), std::string::npos) << path;
  }
  state_.selectedMediaPath.set(::testing::TempDir() + "gone.mp4");
  HttpExchange missing;
  httpRequest(url, missing);
  EXPECT_NE(missing.returnedHeaders.find(" 404 "), std::string::npos);
}

TEST_F(LocalFilePushTest, ChoosesTheAddressOrTellsWhyNot) {
  std::string renderer = "http://127.0.0.1:" + std::to_string(renderer_.port());
  int index = addRenderer(renderer);
  // Containment, not a prefix test: "127.0.0." is inside "1127.0.0.3".
  addresses_ = {"1127.0.0.3", "127.0.0.1"};
  pushLocalFile(state_, firstFile_, index - 1, index);
  EXPECT_EQ(pushedUrl(0).substr(0, 18), "http://1127.0.0.3:");
  // A url that ends in "/" gives no prefix: the first address is used.
  state_.deviceList->clear();
  index = addRenderer(renderer + "/");
  addresses_ = {"10.9.9.9", "127.0.0.1"};
  pushLocalFile(state_, firstFile_, index - 1, index);
  EXPECT_EQ(pushedUrl(1).substr(0, 16), "http://10.9.9.9:");

  addresses_ = {};
  pushLocalFile(state_, firstFile_, index - 1, index);
  EXPECT_EQ(renderer_.requests().size(), 4u);
  EXPECT_EQ(messages_.messages().back(), "本机没有与设备同网段的地址");

  // Nothing selected: nothing pushed, nothing said, the path unchanged.
  state_.selectedMediaPath.set("kept");
  size_t said = messages_.messages().size();
  pushLocalFile(state_, secondFile_, -1, -1);
  pushLocalFile(state_, secondFile_, 0, -1);
  EXPECT_EQ(state_.selectedMediaPath.get(), "kept");
  EXPECT_EQ(messages_.messages().size(), said);
}

TEST_F(LocalFilePushTest, DeviceRecordJsonIsTheCompactRecord) {
  int index = addRenderer("http://10.0.0.2:8080");
  EXPECT_EQ(deviceRecordJson(state_, index),
            "{\"uuid\":\"tv\",\"name\":\"TV\",\"url\":\"http://10.0.0.2:8080\",\"service\":[{\"serviceType\":"
            "\"urn:schemas-upnp-org:service:AVTransport:1\",\"controlURL\":\"/avt\"}]}");
  EXPECT_EQ(deviceRecordJson(state_, index + 1), "{}");
}

}  // namespace
}  // namespace tavrin
