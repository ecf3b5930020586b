// Exit in the entry's order never hangs: not while the receive thread waits
// for the GUI thread to add a device, nor while renderer workers wait for it
// to add their rows.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "gui/gui_session.h"

namespace tavrin::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

// Runs the exit without processing events, as the entry does once the
// message loop has ended; its duration.
Clock::duration timedExit(GuiSession& session) {
  const auto start = Clock::now();
  session.exit();
  return Clock::now() - start;
}

TEST(Exit, DoesNotWaitForTheReceiveThreadThatWaitsForTheWindow) {
  ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
  auto tv = startPlayer("tv");
  GuiSession session;
  session.start();
  // No events are processed: the receive thread adds the device to the list
  // and then waits for the GUI thread in onDeviceFound.
  const auto deadline = Clock::now() + seconds(10);
  while (session.state.deviceList->count() == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(session.state.deviceList->count(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(timedExit(session), seconds(3));
  EXPECT_EQ(session.deviceCombo()->count(), 0);
  // The call queued for the closed window does nothing when it is delivered.
  QTest::qWait(100);
  EXPECT_EQ(session.deviceCombo()->count(), 0);
}

TEST(Exit, DoesNotWaitForRendererWorkersThatWaitForTheWindow) {
  ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
  GuiSession session;
  session.start();
  session.click("startStopButton");
  ASSERT_TRUE(session.state.rendererServer->isRunning());
  auto phone = startOnLan("phone", {TAVRIN_PHONE_APP, "cast", controlUrl(session.state.rendererPort),
                                    "http://10.77.0.9/v/", "--count", "400", "--clients", "8"});
  // Some rows arrive, then the GUI thread stops answering while casts go on.
  ASSERT_TRUE(waitFor([&] { return session.capturedRows().size() >= 20; }, seconds(20)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(timedExit(session), seconds(5));
  const size_t rows = session.capturedRows().size();
  QTest::qWait(200);
  EXPECT_EQ(session.capturedRows().size(), rows);
}

}  // namespace
}  // namespace tavrin::testing
