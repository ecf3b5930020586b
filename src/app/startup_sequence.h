#pragma once
// The start-up sequence that runs once the main window exists: firewall
// rule, SSDP services, drop target, media server on a free port, discovery.
// The window is reached through StartupWindow, and every step that touches
// the host or the network through StartupSteps, so that each failure can be
// played in tests.
#include <functional>
#include <string>

namespace tavrin {

struct AppState;

// What the sequence needs of the main window.
class StartupWindow {
 public:
  virtual ~StartupWindow() = default;
  virtual void clearDeviceCombo() = 0;
  // The handle the drop target attaches to.
  virtual void* nativeHandle() = 0;
  // The drop target's callback: the dropped paths joined by CR LF.
  virtual void onFileDropped(const std::string& paths) = 0;
  // The discovery callback; runs on the SSDP receive thread.
  virtual void onDeviceFound(int index) = 0;
};

struct StartupSteps {
  std::function<bool()> turnOffDataExecutionPrevention;
  std::function<bool(const std::string& ruleName, const std::string& direction)> ensureFirewallRule;
  std::function<bool()> stopSsdpServices;
  std::function<int(int first)> findFreePort;
  std::function<bool(AppState& state, std::function<void(int index)> deviceFound)> startDiscovery;
};

// The steps as the program runs them.
StartupSteps realStartupSteps();

// The first of the ten ports the media server may take.
constexpr int kFirstMediaServerPort = 16789;

// Runs the sequence on the GUI thread. Failures are shown as messages and
// the sequence goes on, except when no port is free for the media server:
// then it ends before the server and discovery are started.
void onMainWindowCreated(AppState& state, StartupWindow& window, const StartupSteps& steps = realStartupSteps());

}  // namespace tavrin
