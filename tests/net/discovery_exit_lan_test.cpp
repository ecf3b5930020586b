// Exit while discovery runs on the test LAN: shutdownAppState must return
// promptly and cleanly whether the receive thread waits for a datagram, is
// reading a description that never comes or drips, or is busy with a stream
// of answers; no callback comes after it has returned.
#include <gtest/gtest.h>

#include <thread>

#include "discovery_session.h"

namespace tavrin::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Far below every time-out of the HTTP client (30 s stall, 120 s in all).
constexpr long long kPromptMs = 3000;

TEST(DiscoveryExit, ShutdownWhileTheReceiveThreadWaitsIsPrompt) {
  // Again and again, so the SSDP port is taken and given back each time.
  for (int round = 0; round < 5; ++round) {
    DiscoverySession session;
    ASSERT_TRUE(session.start()) << round;
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_LT(session.shutdown(), kPromptMs) << round;
    EXPECT_TRUE(session.messages.messages().empty());
  }
}

// The location accepts the connection and then sends nothing, or drips a
// byte a second for a minute: exit gives the fetch up and closes the
// connection.
TEST(DiscoveryExit, ShutdownDuringASlowDescriptionIsPrompt) {
  for (const char* profile : {"silent", "drip"}) {
    DiscoverySession session;
    ASSERT_TRUE(session.start());
    auto tv2 = startFixture("tv2", {"--device", profile, "--drip-seconds", "60", "--send", "alive"});
    ASSERT_GT(waitUntilReady(*tv2), 0) << profile;
    ASSERT_TRUE(tv2->waitForLine("fetch /d/1.xml", seconds(10))) << profile;
    std::this_thread::sleep_for(milliseconds(1500));

    EXPECT_LT(session.shutdown(), kPromptMs) << profile;
    auto end = tv2->waitForLine("end /d/1.xml", seconds(5));
    ASSERT_TRUE(end) << profile;
    EXPECT_LT(std::stol(end->substr(end->rfind(' ') + 1)), 10) << profile;
    EXPECT_TRUE(session.indices().empty()) << profile;
  }
}

TEST(DiscoveryExit, ShutdownAmidAStreamOfAnswersIsPromptAndFinal) {
  auto tv = startFixture("tv", {"--device", "dlna*100"});
  ASSERT_GT(waitUntilReady(*tv), 0);
  DiscoverySession session;
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(session.waitForCallbacks(5, seconds(15)));

  EXPECT_LT(session.shutdown(), kPromptMs);
  const size_t callbacks = session.indices().size();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(session.indices().size(), callbacks);
  for (size_t i = 0; i < callbacks; ++i) EXPECT_EQ(session.indices()[i], static_cast<int>(i) + 1);
}

}  // namespace
}  // namespace tavrin::testing
