#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

class RecordingDropTarget : public FileDropTarget {
 public:
  explicit RecordingDropTarget(std::vector<std::string>& events) : events_(events) {}
  ~RecordingDropTarget() override { events_.push_back("destroyed"); }
  void install(void*, DropCallback) override { events_.push_back("install"); }
  void uninstall() override { events_.push_back("uninstall"); }

 private:
  std::vector<std::string>& events_;
};

TEST(AppState, InitCreatesEveryObjectAndShutdownFreesThem) {
  std::vector<std::string> events;
  AppState state;
  initAppState(state, std::make_unique<RecordingDropTarget>(events));
  ASSERT_TRUE(state.deviceList && state.rendererServer && state.deviceListLock && state.ssdpSocket &&
              state.dropTarget && state.mediaServer);
  EXPECT_EQ(state.deviceList->count(), 0);
  EXPECT_FALSE(state.rendererServer->isRunning());
  EXPECT_FALSE(state.mediaServer->isRunning());
  EXPECT_EQ(state.mediaServerPort, 0);
  EXPECT_EQ(state.capturedRowCount, 0);
  EXPECT_FALSE(state.rendererPlaying);

  state.selectedMediaPath.set("/tmp/film.mp4");
  state.rendererFriendlyName.set("TV");
  state.rendererAddress.set("10.0.0.1:18889");
  state.lastCapturedUri.set("http://x/y.m3u8");
  state.deviceList->appendMap(KeyValueMap::createMapFromPairs({{"uuid", "a"}}));
  shutdownAppState(state);
  EXPECT_FALSE(state.deviceList || state.rendererServer || state.deviceListLock || state.ssdpSocket ||
               state.dropTarget || state.mediaServer);
  EXPECT_EQ(state.selectedMediaPath.get(), "");
  EXPECT_EQ(state.rendererFriendlyName.get(), "");
  EXPECT_EQ(state.rendererAddress.get(), "");
  EXPECT_EQ(state.lastCapturedUri.get(), "");
  EXPECT_EQ(events, std::vector<std::string>{"destroyed"});
}

TEST(AppState, SocketReportsGoThroughTheMessageCallbackOfTheMoment) {
  AppState state;
  initAppState(state);
  std::vector<std::string> shown;
  // Set after the socket exists, as the start-up sequence does.
  state.messageCallback = [&](const std::string& text) { shown.push_back(gbkToUtf8(text)); };
  // The group is no multicast address: joining fails before anything is sent.
  EXPECT_FALSE(state.ssdpSocket->open("127.0.0.1", 0, false, true, "1.2.3.4"));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("加入组播失败：", 0), 0u) << shown[0];
  shutdownAppState(state);
}

}  // namespace
}  // namespace tavrin
