#pragma once
// The load of the soak benchmark, each part on threads that stand on other
// hosts of the test LAN (lan_namespace.h) and talk to the program's core on
// host over the LAN:
//   - TVs (on tv and tv2) read the media file at "/1" in ranges of 1-4 MiB,
//     one after another with an occasional seek, checking status 206, the
//     length and the bytes;
//   - control connections (on phone) post AVTransport actions to the
//     sniffing renderer over kept-alive connections and fetch its
//     description, checking each answer;
//   - a searcher (on phone) sends M-SEARCHes to the program's SSDP socket,
//     mostly straight to it and every fifth to the group, and waits for the
//     sniffing renderer's answer;
//   - fixture devices (on tv2) answer the program's own searches and serve
//     their DLNA descriptions.
// Every failure counts as an error and is reported (the first ones in full).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::bench {

struct SoakCounters {
  std::atomic<uint64_t> mediaBytes{0};
  std::atomic<uint64_t> mediaRequests{0};
  std::atomic<uint64_t> controlRequests{0};
  std::atomic<uint64_t> setUriSent{0};
  std::atomic<uint64_t> setUriAnswered{0};
  std::atomic<uint64_t> searchesSent{0};
  std::atomic<uint64_t> searchesAnswered{0};
  std::atomic<uint64_t> fixtureSearches{0};     // the program's searches seen by the fixture devices
  std::atomic<uint64_t> fixtureDescriptions{0};  // descriptions they served
  std::atomic<uint64_t> reconnects{0};           // connections the servers closed under the clients
};

// Counts errors and writes the first ones to standard error, with the
// seconds since the benchmark began.
class ErrorLog {
 public:
  explicit ErrorLog(size_t shown = 40);
  void add(const std::string& what);
  uint64_t count() const { return count_; }

 private:
  std::mutex mutex_;
  std::atomic<uint64_t> count_{0};
  size_t shown_;
  std::chrono::steady_clock::time_point began_;
};

struct SoakTarget {
  std::string address = "10.77.0.1";
  int mediaPort = 0;
  int rendererPort = 0;
  uint64_t mediaSize = 0;
};

class SoakLoad {
 public:
  SoakLoad(SoakCounters& counters, ErrorLog& errors);
  // Stops and joins every thread.
  ~SoakLoad();
  SoakLoad(const SoakLoad&) = delete;
  SoakLoad& operator=(const SoakLoad&) = delete;

  // Starts `count` fixture devices on tv2 and waits until they listen;
  // false when they cannot.
  bool startFixtureDevices(int count);
  void startClients(const SoakTarget& target, int tvs, int controlConnections);
  // Ends the load: every thread finishes its request and stops.
  void stop();

 private:
  void fixtureDevices(int count, std::promise<bool> ready);
  void tv(SoakTarget target, int index);
  void controlConnection(SoakTarget target, int index);
  void searcher(SoakTarget target);
  bool stopping() const { return stopping_; }

  SoakCounters& counters_;
  ErrorLog& errors_;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> threads_;
};

}  // namespace tavrin::bench
