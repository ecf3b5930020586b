// The program's core as the window runs it, without the window, for the
// soak benchmark: one AppState, the start-up sequence (firewall and system
// services left alone), the local file of a push served on "/1", and the
// sniffing renderer started as the sniff tab starts it. Device-found and
// capture callbacks do what the window's do, short of drawing: the name is
// read through the record's JSON text, the capture gets its row number.
// It runs only on the test LAN's host, started by soak_bench, and talks in
// lines:
//   out: ready <pid> <media port> <renderer port>   (or: failed <why>)
//   in:  search   out: searched <devices found since the previous search>
//   in:  stats    out: stats <captures> <bad captures> <devices found>
//   in:  quit (or end of input)   out: bye, after the exit routine
//   out: message <text>   whatever the program would show in a message box
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/app_state.h"
#include "app/startup_sequence.h"
#include "fixtures/lan_process.h"
#include "httpserv/media_server.h"
#include "httpserv/sniffing_renderer.h"
#include "json/json_object.h"
#include "platform/message.h"
#include "platform/text_encoding.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin {
namespace {

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

class HeadlessWindow : public StartupWindow {
 public:
  explicit HeadlessWindow(AppState& state) : state_(state) {}
  void clearDeviceCombo() override {}
  void* nativeHandle() override { return nullptr; }
  void onFileDropped(const std::string&) override {}
  // As the push page: the name through the record's JSON text.
  void onDeviceFound(int index) override {
    JsonObject device;
    device.parse(deviceRecordJson(state_, index));
    if (!device.getText("name").empty()) ++found_;
  }
  int takeFound() { return found_.exchange(0); }
  long long foundTotal() const { return foundTotal_ + found_; }
  void addToTotal(int found) { foundTotal_ += found; }

 private:
  AppState& state_;
  std::atomic<int> found_{0};
  long long foundTotal_ = 0;
};

int run(const std::string& mediaPath) {
  setMessageSink([](const std::string& text) { say("message " + gbkToUtf8(text)); });
  AppState state;
  initAppState(state);
  HeadlessWindow window(state);
  StartupSteps steps = realStartupSteps();
  steps.ensureFirewallRule = [](const std::string&, const std::string&) { return true; };
  steps.stopSsdpServices = [] { return true; };
  onMainWindowCreated(state, window, steps);
  if (state.mediaServerPort == 0 || !state.mediaServer->isRunning()) {
    say("failed the media server did not start");
    shutdownAppState(state);
    return 1;
  }
  if (!state.receiveThread.joinable()) {
    say("failed discovery did not start");
    shutdownAppState(state);
    return 1;
  }
  // What a local-file push leaves behind for "/1".
  state.selectedMediaPath.set(mediaPath);

  std::atomic<long long> captures{0};
  std::atomic<long long> badCaptures{0};
  const std::string castPrefix = "http://10.77.0.9/soak/";
  const bool started = startRenderer(state, utf8ToGbk("Morla小站"), [&](const std::string& uri) {
    ++state.capturedRowCount;
    const bool wellFormed = uri.rfind(castPrefix, 0) == 0 && uri.size() > 17 &&
                            uri.compare(uri.size() - 13, 13, ".m3u8?a=1&b=2") == 0;
    ++(wellFormed ? captures : badCaptures);
  });
  if (!started) {
    say("failed the sniffing renderer did not start");
    shutdownAppState(state);
    return 1;
  }
  say("ready " + std::to_string(::getpid()) + " " + std::to_string(state.mediaServerPort.load()) + " " +
      std::to_string(state.rendererPort.load()));

  for (std::string line; std::getline(std::cin, line) && line != "quit";) {
    if (line == "search") {
      const int found = window.takeFound();
      window.addToTotal(found);
      repeatSearch(state);
      say("searched " + std::to_string(found));
    } else if (line == "stats") {
      say("stats " + std::to_string(captures.load()) + " " + std::to_string(badCaptures.load()) + " " +
          std::to_string(window.foundTotal()));
    }
  }
  shutdownAppState(state);
  say("bye");
  return 0;
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  if (!tavrin::testing::hasLocalAddress("10.77.0.1")) {
    std::fprintf(stderr, "soak_tavrin runs only on the test LAN's host, started by soak_bench\n");
    return 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: soak_tavrin MEDIA-FILE\n");
    return 2;
  }
  return tavrin::run(argv[1]);
}
