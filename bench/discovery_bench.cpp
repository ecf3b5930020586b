// Discovery cost per device on the test LAN: N fixture renderers on tv answer
// one search from the program's core on host; the time from the search to
// the N-th device-found callback, for N = 50 and N = 100. Each device costs
// one datagram, one description fetch and one parse, one after another on
// the receive thread, so the time should grow linearly (ratio about 2).
// Runs only on the LAN's host: scripts/bench discovery.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "fixtures/lan_process.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin {
namespace {

using Clock = std::chrono::steady_clock;

// Counts callbacks and notes when the last awaited one came.
class FoundCounter {
 public:
  void reset(int expected) {
    std::lock_guard<std::mutex> lock(mutex_);
    count_ = 0;
    expected_ = expected;
  }
  void found() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (++count_ == expected_) {
      last_ = Clock::now();
      changed_.notify_all();
    }
  }
  // The time of the expected-th callback, or nothing after the time-out.
  bool wait(std::chrono::seconds timeout, Clock::time_point& when) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return count_ >= expected_; })) return false;
    when = last_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
  int expected_ = 0;
  Clock::time_point last_;
};

struct Timing {
  double medianMs = -1;
  double fastestMs = -1;
};

// The times from a search to the last of `devices` callbacks over `rounds`
// searches; negative when a round fell short.
Timing discoveryTiming(int devices, int rounds) {
  const std::vector<std::string> command = {TAVRIN_FIXTURE_RENDERER, "--seconds", "300", "--device",
                                            "dlna*" + std::to_string(devices)};
  testing::LanProcess fixture(TAVRIN_LAN_SCRIPT, "tv", command, std::chrono::seconds(310));
  if (!fixture.waitForLine("ready ", std::chrono::seconds(10))) return {};

  AppState state;
  initAppState(state);
  FoundCounter counter;
  counter.reset(devices);
  std::vector<double> times;
  Clock::time_point last;
  // The first search (at start) warms up connections, caches and the
  // fixture; it is not counted.
  bool ok = startDiscovery(state, [&counter](int) { counter.found(); }) &&
            counter.wait(std::chrono::seconds(60), last);
  for (int round = 0; ok && round < rounds; ++round) {
    counter.reset(devices);
    Clock::time_point searched = Clock::now();
    repeatSearch(state);
    ok = counter.wait(std::chrono::seconds(60), last);
    times.push_back(std::chrono::duration<double, std::milli>(last - searched).count());
  }
  shutdownAppState(state);
  if (!ok) return {};
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.front()};
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  if (!tavrin::testing::hasLocalAddress("10.77.0.1")) {
    std::fprintf(stderr, "discovery_bench runs only on the test LAN's host: scripts/lan exec host %s\n", argv[0]);
    return 1;
  }
  int rounds = 21;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  std::printf("discovery: search to the last device-found callback over %d searches\n", rounds);
  tavrin::Timing fifty = tavrin::discoveryTiming(50, rounds);
  tavrin::Timing hundred = tavrin::discoveryTiming(100, rounds);
  if (fifty.medianMs <= 0 || hundred.medianMs <= 0) {
    std::fprintf(stderr, "discovery_bench: not every device was found\n");
    return 2;
  }
  for (const auto& [devices, timing] : {std::pair{50, fifty}, std::pair{100, hundred}}) {
    std::printf(" %3d devices: median %7.2f ms (%.3f ms per device), fastest %7.2f ms (%.3f ms per device)\n",
                devices, timing.medianMs, timing.medianMs / devices, timing.fastestMs, timing.fastestMs / devices);
  }
  std::printf(" ratio 100/50: median %.2f, fastest %.2f (2 = linear growth)\n", hundred.medianMs / fifty.medianMs,
              hundred.fastestMs / fifty.fastestMs);
  return 0;
}
