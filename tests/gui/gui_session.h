#pragma once
// What the GUI tests share: the program's state and main window built as
// the entry builds them (messages collected instead of shown), the start-up
// sequence with the host steps that would touch this machine's services
// played, the exit in the entry's order, and the fixtures on the LAN.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/startup_sequence.h"
#include "app/window/gui_thread_gate.h"
#include "app/window/main_window.h"
#include "app/window/qt_file_drop_target.h"
#include "fixtures/lan_process.h"
#include "fixtures/message_collector.h"

namespace tavrin::testing {

constexpr char kHostAddress[] = "10.77.0.1";

// The AVTransport control URL of the program's renderer on the port.
inline std::string controlUrl(int port) {
  return "http://" + std::string(kHostAddress) + ":" + std::to_string(port) +
         "/_urn:schemas-upnp-org:service:AVTransport_control";
}

// The real steps, except the firewall and the system's SSDP services, which
// belong to the machine and not to the test's namespace.
inline StartupSteps lanStartupSteps() {
  StartupSteps steps = realStartupSteps();
  steps.ensureFirewallRule = [](const std::string&, const std::string&) { return true; };
  steps.stopSsdpServices = [] { return true; };
  return steps;
}

// Listens on the ten ports from `first` on the host's address in the LAN,
// so that the program finds none of them free.
class TakenPorts {
 public:
  explicit TakenPorts(int first) {
    for (int port = first; port < first + 10; ++port) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      inet_pton(AF_INET, kHostAddress, &address.sin_addr);
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 16) == 0) ++taken_;
      fds_.push_back(fd);
    }
  }
  ~TakenPorts() { release(); }
  TakenPorts(const TakenPorts&) = delete;
  TakenPorts& operator=(const TakenPorts&) = delete;

  bool all() const { return taken_ == 10; }
  // Frees the ports again.
  void release() {
    for (int fd : fds_) close(fd);
    fds_.clear();
    taken_ = 0;
  }

 private:
  std::vector<int> fds_;
  int taken_ = 0;
};

class GuiSession {
 public:
  GuiSession() {
    auto drop = std::make_unique<QtFileDropTarget>();
    dropTarget = drop.get();
    initAppState(state, std::move(drop));
    window = std::make_unique<MainWindow>(state, gate);
    window->show();
  }
  ~GuiSession() { exit(); }
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;

  void start(const StartupSteps& steps = lanStartupSteps()) { onMainWindowCreated(state, *window, steps); }

  // The entry's exit: the gate closes, then the state is freed.
  void exit() {
    if (exited_) return;
    exited_ = true;
    window->beginExit();
    shutdownAppState(state);
  }

  template <typename T>
  T* find(const char* name) const {
    return window->findChild<T*>(name);
  }
  QComboBox* deviceCombo() const { return find<QComboBox>("deviceCombo"); }
  QTreeWidget* capturedList() const { return find<QTreeWidget>("capturedList"); }
  void click(const char* button) const { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

  // The rows of the captured list as "number url".
  std::vector<std::string> capturedRows() const {
    std::vector<std::string> rows;
    QTreeWidget* list = capturedList();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      rows.push_back((list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1)).toStdString());
    }
    return rows;
  }

  MessageCollector messages;
  AppState state;
  GuiThreadGate gate;
  QtFileDropTarget* dropTarget = nullptr;
  std::unique_ptr<MainWindow> window;

 private:
  bool exited_ = false;
};

// Processes events until the condition holds; false at the time-out.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

inline std::unique_ptr<LanProcess> startOnLan(const std::string& host, std::vector<std::string> command,
                                              int seconds = 90) {
  command.insert(command.begin() + 1, {"--seconds", std::to_string(seconds)});
  return std::make_unique<LanProcess>(TAVRIN_LAN_SCRIPT, host, command, std::chrono::seconds(seconds + 5));
}

// A fixture renderer on the host with one DLNA renderer that records the
// actions sent to it and, on Play, fetches the URI as a TV does.
inline std::unique_ptr<LanProcess> startPlayer(const std::string& host) {
  auto player = startOnLan(host, {TAVRIN_FIXTURE_RENDERER, "--device", "cm-avt-rc", "--player"});
  player->waitForLine("ready ", std::chrono::seconds(10));
  return player;
}

// Waits for a LAN process's line while the GUI thread keeps processing
// events (the window must answer the threads that wait for it).
inline bool waitForLines(const LanProcess& process, const std::string& prefix, size_t count,
                         std::chrono::milliseconds timeout) {
  return waitFor([&] { return process.countLines(prefix) >= count; }, timeout);
}

}  // namespace tavrin::testing
