// The start-up sequence on the real window: its order, the message of each
// failing step, and the early end when the media server finds no port.
#include <gtest/gtest.h>

#include <QComboBox>
#include <string>
#include <vector>

#include "gui/gui_session.h"
#include "platform/free_port.h"

namespace tavrin::testing {
namespace {

using Strings = std::vector<std::string>;

// Steps that record their calls and give the results the test chooses.
struct PlayedSteps {
  bool firewall = true;
  bool services = true;
  int port = 0;  // 0: a free port of the system's choice
  Strings calls;

  StartupSteps steps() {
    StartupSteps played;
    played.turnOffDataExecutionPrevention = [this] {
      calls.push_back("dep");
      return false;
    };
    played.ensureFirewallRule = [this](const std::string& name, const std::string& direction) {
      calls.push_back("firewall " + name + " " + direction);
      return firewall;
    };
    played.stopSsdpServices = [this] {
      calls.push_back("services");
      return services;
    };
    played.findFreePort = [this](int first) {
      calls.push_back("port " + std::to_string(first));
      return port == 0 ? systemFreePort() : port;
    };
    played.startDiscovery = [this](AppState&, std::function<void(int)> found) {
      calls.push_back(found ? "discovery" : "discovery without callback");
      return true;
    };
    return played;
  }

  static int systemFreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t length = sizeof any;
    bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
    getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length);
    close(fd);
    return ntohs(any.sin_port);
  }
};

TEST(StartupSequence, RunsEveryStepInOrderAndReportsEachFailureInOrder) {
  const struct {
    bool firewall;
    bool services;
    Strings messages;
  } cases[] = {
      {true, true, {}},
      {false, true, {"防火墙添加失败，请手动允许"}},
      {true, false, {"ssdp关闭失败"}},
      {false, false, {"防火墙添加失败，请手动允许", "ssdp关闭失败"}},
  };
  for (const auto& c : cases) {
    GuiSession session;
    session.deviceCombo()->addItem("stale", 7);
    session.state.capturedRowCount = 5;
    PlayedSteps played;
    played.firewall = c.firewall;
    played.services = c.services;
    session.start(played.steps());

    EXPECT_EQ(session.messages.messages(), c.messages);
    EXPECT_EQ(played.calls, (Strings{"dep", "firewall kqvd in", "services", "port 16789", "discovery"}));
    EXPECT_EQ(session.deviceCombo()->count(), 0);
    EXPECT_TRUE(session.window->acceptDrops());
    EXPECT_EQ(session.state.capturedRowCount, 0);
    EXPECT_TRUE(session.state.messageCallback);
    EXPECT_TRUE(session.state.mediaServer->isRunning());
    EXPECT_GT(session.state.mediaServerPort, 0);
    EXPECT_EQ(session.state.mediaServer->port(), session.state.mediaServerPort);
  }
}

TEST(StartupSequence, MediaServerThatDoesNotStartStillLeadsToDiscovery) {
  GuiSession session;
  PlayedSteps played;
  played.port = 70000;  // no TCP port: the server cannot start there
  session.start(played.steps());
  EXPECT_TRUE(session.messages.messages().empty());
  EXPECT_FALSE(session.state.mediaServer->isRunning());
  EXPECT_EQ(session.state.mediaServerPort, 70000);
  EXPECT_EQ(played.calls.back(), "discovery");
}

TEST(StartupSequence, NoFreePortEndsTheSequenceBeforeServerAndDiscovery) {
  ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
  TakenPorts taken(kFirstMediaServerPort);
  ASSERT_TRUE(taken.all());
  ASSERT_EQ(findFreePort(kFirstMediaServerPort), -1);

  GuiSession session;
  session.deviceCombo()->addItem("stale", 1);
  session.start(lanStartupSteps());
  EXPECT_EQ(session.messages.messages(), Strings{"本地服务器创建失败"});
  EXPECT_EQ(session.state.mediaServerPort, 0);
  EXPECT_FALSE(session.state.mediaServer->isRunning());
  EXPECT_FALSE(session.state.receiveThread.joinable());
  EXPECT_FALSE(session.state.deviceFoundCallback);
  EXPECT_EQ(session.deviceCombo()->count(), 0);
  // The window stays usable: the drop target was attached before the end.
  EXPECT_TRUE(session.window->acceptDrops());
}

TEST(StartupSequence, RealDiscoveryStartsTheReceiveThreadAfterTheServer) {
  ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
  auto player = startPlayer("tv");
  GuiSession session;
  session.start(lanStartupSteps());
  EXPECT_TRUE(session.messages.messages().empty());
  EXPECT_TRUE(session.state.mediaServer->isRunning());
  EXPECT_TRUE(session.state.receiveThread.joinable());
  // The first search reaches the LAN: the player on tv saw it.
  EXPECT_TRUE(waitForLines(*player, "search 10.77.0.1:1900", 1, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace tavrin::testing
