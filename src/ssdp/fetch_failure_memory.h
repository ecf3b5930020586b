#pragma once
// Description locations, and the servers behind them, whose fetch lately
// cost the receive thread a time-out or a body over the cap. The receive
// thread reads one datagram at a time and holds the device list's lock
// while it fetches, so a flood of answers naming a black hole or a slow
// drip would stall discovery for as long as the flood lasts; while such a
// location is remembered, answers naming it are dropped without a fetch.
// Locations that answer, even with an error page or a plain UPnP device,
// are never remembered: every answer naming them is fetched as before.
#include <chrono>
#include <map>
#include <string>

#include "httpclient/http_request.h"

namespace tavrin {

class FetchFailureMemory {
 public:
  using Clock = std::chrono::steady_clock;

  // How long a failure is remembered.
  static constexpr std::chrono::seconds kRememberFor{60};
  // Time-outs of one server (under any paths) within kRememberFor after
  // which the whole server is remembered.
  static constexpr int kServerTimeOuts = 2;
  // Entries kept at most; the oldest go first.
  static constexpr size_t kMaxEntries = 1024;

  // True while the location, or its server (host and port), is remembered.
  bool skips(const std::string& location, Clock::time_point now) const;

  // Takes the outcome of a fetch of the location: an unreachable server is
  // remembered at once; a location that timed out or sent too much is
  // remembered, and its server too after kServerTimeOuts time-outs.
  void record(const std::string& location, HttpFailure failure, Clock::time_point now);

  // Forgets every failure.
  void clear();

  // Entries held (locations, servers and time-out counts).
  size_t size() const { return until_.size() + timeOuts_.size(); }

 private:
  struct TimeOuts {
    int count = 0;
    Clock::time_point since;
  };

  void remember(const std::string& key, Clock::time_point now);
  void forgetExpired(Clock::time_point now);

  std::map<std::string, Clock::time_point> until_;  // "L "+location or "S "+server → remembered until
  std::map<std::string, TimeOuts> timeOuts_;         // server → its recent time-outs
};

// "host:port" of a location, the host lower-cased; the port 80 (443 for
// https) when the location names none.
std::string locationServer(const std::string& location);

}  // namespace tavrin
