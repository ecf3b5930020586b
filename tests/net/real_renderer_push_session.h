#pragma once
// What the push tests against the real renderers share: the test clip made
// on "host", a record of the media requests a server on "host" gets, the
// core run as the program runs it, rygel listed through discovery, and
// bounded polls of what a renderer reports of its transport and position.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "control/av_transport.h"
#include "fixtures/real_renderers.h"
#include "json/json_object.h"
#include "platform/http_request.h"
#include "platform/http_response.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin::testing {

constexpr char kHostAddress[] = "10.77.0.1";
// Every wait on a renderer ends after this at the latest.
constexpr int kRendererWaitMs = 30000;

// The test clip under /tmp, made once per program and removed at its end.
class TestClip : public ::testing::Environment {
 public:
  static const std::string& path() { return path_; }
  static uintmax_t size() {
    std::error_code error;
    auto bytes = std::filesystem::file_size(path_, error);
    return error ? 0 : bytes;
  }
  void SetUp() override {
    path_ = "/tmp/tavrin-push-clip-" + std::to_string(getpid()) + ".mp4";
    if (!makeTestClip(TAVRIN_LAN_SCRIPT, path_, 60)) path_.clear();
  }
  void TearDown() override {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove(path_, ignored);
  }

 private:
  static inline std::string path_;
};

// One request as a media handler on "host" saw it, and what it answered.
struct SeenRequest {
  std::string method;
  std::string path;
  std::string featuresAsked;     // getcontentFeatures.dlna.org
  std::string featuresAnswered;  // contentFeatures.dlna.org of the answer
  std::string filePath;          // of the file the answer sends; empty: none
  uintmax_t fileSize = 0;        // of that file
};

// The requests handlers report, safe across the server's worker threads.
class RequestLog {
 public:
  void add(const HttpRequest& request, const HttpResponse& response) {
    SeenRequest seen{request.method(), request.path(), request.header("getcontentFeatures.dlna.org"), "", "", 0};
    if (response.file().isOpen()) {
      seen.filePath = response.file().path();
      seen.fileSize = response.file().size();
    }
    for (const auto& header : response.headers()) {
      if (headerNameEquals(header.first, "contentFeatures.dlna.org")) seen.featuresAnswered = header.second;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(seen);
    changed_.notify_all();
  }
  std::vector<SeenRequest> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Waits until a GET has been answered with the file at the path, or with
  // any file when the path is empty.
  bool waitForFileSent(std::chrono::milliseconds timeout, const std::string& path = "") const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const SeenRequest& seen : requests_) {
        if (seen.method == "GET" && !seen.filePath.empty() && (path.empty() || seen.filePath == path)) return true;
      }
      return false;
    });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<SeenRequest> requests_;
};

// The core as the program runs it, shut down however the test ends.
struct RunningCore {
  AppState state;
  RunningCore() { initAppState(state); }
  ~RunningCore() { shutdownAppState(state); }
  RunningCore(const RunningCore&) = delete;
  RunningCore& operator=(const RunningCore&) = delete;
};

// Starts discovery and waits for the renderer with the uuid to be listed;
// its 1-based index, or 0 when it was not listed in time.
inline int listThroughDiscovery(AppState& state, const std::string& uuid) {
  // The callback may run until shutdownAppState ends the receive thread,
  // after this function has returned: it holds only shared copies.
  auto shared = std::make_shared<std::pair<std::mutex, std::vector<int>>>();
  if (!startDiscovery(state, [shared](int index) {
        std::lock_guard<std::mutex> lock(shared->first);
        shared->second.push_back(index);
      })) {
    return 0;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRendererWaitMs);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<int> indices;
    {
      std::lock_guard<std::mutex> lock(shared->first);
      indices = shared->second;
    }
    for (int index : indices) {
      if (state.deviceList->getText(index, "uuid") == uuid) return index;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

// The transport state the device reports (GetTransportInfo); empty when it
// gave none.
inline std::string transportState(AppState& state, int deviceIndex) {
  JsonObject result;
  result.parse(callDeviceAction(state, kAvTransportType, "GetTransportInfo", R"({"InstanceID":0})", deviceIndex));
  return result.getText("data.CurrentTransportState");
}

// Polls the transport state until it is `wanted`, for kRendererWaitMs at
// most; the distinct states seen, in order, the last one last.
inline std::vector<std::string> pollTransportStateUntil(AppState& state, int deviceIndex, const std::string& wanted) {
  std::vector<std::string> seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRendererWaitMs);
  while (true) {
    std::string now = transportState(state, deviceIndex);
    if (seen.empty() || seen.back() != now) seen.push_back(now);
    if (now == wanted || std::chrono::steady_clock::now() >= deadline) return seen;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

// Where the renderer is in what it plays (GetPositionInfo), in seconds; -1
// for a time it did not give.
struct PlaybackPosition {
  double trackDuration = -1;
  double relativeTime = -1;
};

// "H:MM:SS" with optional fractions of a second; -1 for anything else.
inline double secondsOf(const std::string& time) {
  int hours = 0, minutes = 0;
  double seconds = 0;
  char end = 0;
  if (std::sscanf(time.c_str(), "%d:%d:%lf%c", &hours, &minutes, &seconds, &end) != 3) return -1;
  return hours * 3600.0 + minutes * 60.0 + seconds;
}

inline PlaybackPosition playbackPosition(AppState& state, int deviceIndex) {
  JsonObject result;
  result.parse(callDeviceAction(state, kAvTransportType, "GetPositionInfo", R"({"InstanceID":0})", deviceIndex));
  return {secondsOf(result.getText("data.TrackDuration")), secondsOf(result.getText("data.RelTime"))};
}

// Polls the position until it has reached `seconds`, for kRendererWaitMs at
// most; the last position read.
inline PlaybackPosition waitForPosition(AppState& state, int deviceIndex, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRendererWaitMs);
  while (true) {
    PlaybackPosition now = playbackPosition(state, deviceIndex);
    if (now.relativeTime >= seconds || std::chrono::steady_clock::now() >= deadline) return now;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

// The renderer's log, shown when the test fails however it ends.
struct LogOnFailure {
  const RealRenderer& renderer;
  ~LogOnFailure() {
    if (!::testing::Test::HasFailure()) return;
    std::fprintf(stderr, "--- %s log ---\n%s", renderer.host().c_str(), renderer.log().c_str());
  }
};

}  // namespace tavrin::testing
