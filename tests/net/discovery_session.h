#pragma once
// What the discovery net tests share: the program's core run on the LAN's
// "host" (initAppState, startDiscovery with a callback that records the
// indices, shutdownAppState), the fixture renderer started on another host,
// and readings of the device list and of the process's memory.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/startup_sequence.h"
#include "fixtures/lan_process.h"
#include "fixtures/message_collector.h"
#include "httpserv/media_server.h"
#include "platform/free_port.h"
#include "platform/text_encoding.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin::testing {

constexpr char kHostAddress[] = "10.77.0.1";

// The fixture renderer on a LAN host, ended after `seconds` at the latest.
inline std::unique_ptr<LanProcess> startFixture(const std::string& host, std::vector<std::string> args,
                                                int seconds = 60) {
  std::vector<std::string> command = {TAVRIN_FIXTURE_RENDERER, "--seconds", std::to_string(seconds)};
  command.insert(command.end(), args.begin(), args.end());
  return std::make_unique<LanProcess>(TAVRIN_LAN_SCRIPT, host, command,
                                      std::chrono::seconds(seconds + 5));
}

// The fixture's "ready <port> <address>" line, waited for; its HTTP port
// (0 when it did not come up).
inline int waitUntilReady(const LanProcess& fixture) {
  auto line = fixture.waitForLine("ready ", std::chrono::seconds(10));
  return line ? std::stoi(line->substr(6)) : 0;
}

// One device of the list as the tests compare it, texts in UTF-8.
struct ListedDevice {
  std::string uuid;
  std::string name;
  std::string url;
  int serviceCount = 0;
};

class DiscoverySession {
 public:
  DiscoverySession() { initAppState(state); }
  ~DiscoverySession() { shutdown(); }
  DiscoverySession(const DiscoverySession&) = delete;
  DiscoverySession& operator=(const DiscoverySession&) = delete;

  bool start() {
    return startDiscovery(state, [this](int index) {
      std::lock_guard<std::mutex> lock(mutex_);
      indices_.push_back(index);
      changed_.notify_all();
    });
  }

  // The media server as start-up sets it up; its port, or 0 when it could
  // not start.
  int startMediaServer() {
    const int port = findFreePort(kFirstMediaServerPort);
    registerMediaPath(state);
    if (port < kFirstMediaServerPort || !state.mediaServer->start(port)) return 0;
    state.mediaServerPort = port;
    return port;
  }

  // Shuts the state down once; how many milliseconds that took.
  long long shutdown() {
    auto began = std::chrono::steady_clock::now();
    if (!shutDown_) shutdownAppState(state);
    shutDown_ = true;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
  }

  std::vector<int> indices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return indices_;
  }

  // Waits until the callback has been called `count` times in all.
  bool waitForCallbacks(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return indices_.size() >= count; });
  }

  std::vector<ListedDevice> devices() const {
    std::vector<ListedDevice> listed;
    for (int i = 1; i <= state.deviceList->count(); ++i) {
      KeyValueMap record;
      state.deviceList->getMap(i, record);
      listed.push_back({gbkToUtf8(record.getText("uuid")), gbkToUtf8(record.getText("name")),
                        gbkToUtf8(record.getText("url")), record.count("service")});
    }
    return listed;
  }

  // A text of the i-th device's record by key or "//" path, in UTF-8.
  std::string text(int position, const std::string& keyOrPath) const {
    return gbkToUtf8(state.deviceList->getText(position, keyOrPath));
  }

  MessageCollector messages;
  AppState state;

 private:
  bool shutDown_ = false;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<int> indices_;
};

inline bool operator==(const ListedDevice& a, const ListedDevice& b) {
  return a.uuid == b.uuid && a.name == b.name && a.url == b.url && a.serviceCount == b.serviceCount;
}

inline std::ostream& operator<<(std::ostream& out, const ListedDevice& device) {
  return out << "{" << device.uuid << ", " << device.name << ", " << device.url << ", " << device.serviceCount
             << " services}";
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 when missing.
inline long statusKib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return 0;
}

// How many lines of the fixture start with the prefix and end with the text.
inline size_t countLinesEndingWith(const LanProcess& fixture, const std::string& prefix,
                                   const std::string& ending) {
  size_t count = 0;
  for (const std::string& line : fixture.lines()) {
    if (line.rfind(prefix, 0) == 0 && line.size() >= ending.size() &&
        line.compare(line.size() - ending.size(), ending.size(), ending) == 0) {
      ++count;
    }
  }
  return count;
}

}  // namespace tavrin::testing
