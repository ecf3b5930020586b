// Pushing a local file to a real renderer of the test LAN: rygel in "tv2",
// listed through discovery and selected as the window selects it, is pushed
// the test clip with pushLocalFile; the program's media server on "host"
// answers its DLNA questions and sends the file, and it plays it; a second
// push while it plays switches it to the next file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/startup_sequence.h"
#include "control/av_transport.h"
#include "fixtures/message_collector.h"
#include "fixtures/real_renderers.h"
#include "httpserv/media_server.h"
#include "net/real_renderer_push_session.h"
#include "platform/free_port.h"

namespace tavrin {
namespace {

using testing::kRendererWaitMs;
using testing::RealRenderer;
using testing::RealRendererKind;
using testing::RequestLog;
using testing::RunningCore;
using testing::SeenRequest;
using testing::TestClip;

// The URL pushLocalFile gave the renderer, as the media server saw it.
const std::regex kMediaPath(R"(/1\?\d{10})");

TEST(RealRenderersLocalFile, RygelAsksForTheDlnaFeaturesFetchesThePushedFileAndPlaysItThenTheNextOne) {
  ASSERT_FALSE(TestClip::path().empty()) << "the test clip could not be made";
  // The next file the user pushes: another file at another path.
  const std::string nextFile = TestClip::path() + ".next.mp4";
  std::error_code error;
  ASSERT_TRUE(std::filesystem::copy_file(TestClip::path(), nextFile, error)) << error.message();
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } removeNext{nextFile};

  testing::MessageCollector messages;
  RealRenderer rygel(RealRendererKind::kRygel, TAVRIN_LAN_SCRIPT);
  testing::LogOnFailure logs{rygel};
  ASSERT_TRUE(rygel.start()) << rygel.failure();
  ASSERT_TRUE(rygel.waitUntilServing(kRendererWaitMs)) << rygel.failure();

  RequestLog requests;
  RunningCore core;
  AppState& state = core.state;
  // The media server as the program starts it, its handler of "/1" wrapped
  // so that the test sees every request and what it was answered.
  const int port = findFreePort(kFirstMediaServerPort);
  ASSERT_GE(port, kFirstMediaServerPort);
  ASSERT_TRUE(state.mediaServer->start(port));
  state.mediaServerPort = port;
  state.mediaServer->registerPathHandler(
      [&state, &requests](const HttpRequest& request, HttpResponse& response) {
        bool served = serveMediaFile(state, request, response);
        requests.add(request, response);
        return served;
      },
      "/1");
  const std::string mediaBase = "http://10.77.0.1:" + std::to_string(port);

  const int index = testing::listThroughDiscovery(state, rygel.uuid());
  ASSERT_GT(index, 0) << "rygel was never listed";
  // The window's combo box holds the device in row index - 1, with the
  // index as the row's value.
  pushLocalFile(state, TestClip::path(), index - 1, index);
  EXPECT_EQ(messages.messages(), std::vector<std::string>{"完成"});

  ASSERT_TRUE(requests.waitForFileSent(std::chrono::milliseconds(kRendererWaitMs), TestClip::path()))
      << "rygel never fetched the file";
  std::vector<SeenRequest> seen = requests.requests();
  // First it asks what the resource is, and gets the DLNA answer; then it
  // fetches the file.
  EXPECT_EQ(seen[0].method, "HEAD");
  EXPECT_EQ(seen[0].featuresAsked, "1");
  EXPECT_NE(seen[0].featuresAnswered.find("DLNA.ORG_OP=01"), std::string::npos) << seen[0].featuresAnswered;
  for (const SeenRequest& request : seen) {
    EXPECT_TRUE(std::regex_match(request.path, kMediaPath)) << request.path;
    EXPECT_EQ(request.filePath, TestClip::path()) << request.method;
    EXPECT_EQ(request.fileSize, TestClip::size()) << request.method;
  }
  std::vector<std::string> states = testing::pollTransportStateUntil(state, index, "PLAYING");
  EXPECT_EQ(states.back(), "PLAYING") << ::testing::PrintToString(states);
  const std::string firstUrl = mediaBase + seen[0].path;
  EXPECT_EQ(fetchCurrentUri(state, index), firstUrl);
  testing::PlaybackPosition position = testing::waitForPosition(state, index, 1.0);
  EXPECT_GE(position.relativeTime, 1.0);
  EXPECT_NEAR(position.trackDuration, 20.0, 0.5);

  // The next push, a second later at least, names "/1" with a new stamp: the
  // renderer takes it as a new resource, and "/1" now sends the next file.
  const size_t before = requests.requests().size();
  pushLocalFile(state, nextFile, index - 1, index);
  EXPECT_EQ(messages.messages(), (std::vector<std::string>{"完成", "完成"}));
  ASSERT_TRUE(requests.waitForFileSent(std::chrono::milliseconds(kRendererWaitMs), nextFile))
      << "rygel never fetched the next file";
  seen = requests.requests();
  ASSERT_GT(seen.size(), before);
  EXPECT_TRUE(std::regex_match(seen[before].path, kMediaPath)) << seen[before].path;
  EXPECT_NE(mediaBase + seen[before].path, firstUrl);
  states = testing::pollTransportStateUntil(state, index, "PLAYING");
  EXPECT_EQ(states.back(), "PLAYING") << ::testing::PrintToString(states);
  EXPECT_EQ(fetchCurrentUri(state, index), mediaBase + seen[before].path);
}

}  // namespace
}  // namespace tavrin

// The test clip is made once for the whole program.
static testing::Environment* const clipEnvironment =
    testing::AddGlobalTestEnvironment(new tavrin::testing::TestClip);
