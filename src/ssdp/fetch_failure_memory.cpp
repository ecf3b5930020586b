#include "ssdp/fetch_failure_memory.h"

#include <algorithm>

#include "httpclient/url_parts.h"

namespace tavrin {
namespace {

std::string locationKey(const std::string& location) { return "L " + location; }
std::string serverKey(const std::string& server) { return "S " + server; }

template <typename Map, typename Time>
void eraseEarliest(Map& map, Time time) {
  auto earliest = std::min_element(map.begin(), map.end(),
                                   [&](const auto& a, const auto& b) { return time(a.second) < time(b.second); });
  if (earliest != map.end()) map.erase(earliest);
}

}  // namespace

std::string locationServer(const std::string& location) {
  return urlHost(location, false) + ":" + std::to_string(urlPort(location));
}

bool FetchFailureMemory::skips(const std::string& location, Clock::time_point now) const {
  for (const std::string& key : {locationKey(location), serverKey(locationServer(location))}) {
    auto found = until_.find(key);
    if (found != until_.end() && now < found->second) return true;
  }
  return false;
}

void FetchFailureMemory::record(const std::string& location, HttpFailure failure, Clock::time_point now) {
  forgetExpired(now);
  const std::string server = locationServer(location);
  switch (failure) {
    case HttpFailure::unreachable:
      remember(serverKey(server), now);
      break;
    case HttpFailure::timedOut: {
      remember(locationKey(location), now);
      TimeOuts& timeOuts = timeOuts_[server];
      if (timeOuts.count == 0) timeOuts.since = now;
      if (++timeOuts.count >= kServerTimeOuts) {
        remember(serverKey(server), now);
        timeOuts_.erase(server);
      }
      while (timeOuts_.size() > kMaxEntries) {
        eraseEarliest(timeOuts_, [](const TimeOuts& t) { return t.since; });
      }
      break;
    }
    case HttpFailure::tooLarge:
      remember(locationKey(location), now);
      break;
    case HttpFailure::none:
    case HttpFailure::other:
      break;
  }
}

void FetchFailureMemory::clear() {
  until_.clear();
  timeOuts_.clear();
}

void FetchFailureMemory::remember(const std::string& key, Clock::time_point now) {
  until_[key] = now + kRememberFor;
  while (until_.size() > kMaxEntries) {
    eraseEarliest(until_, [](Clock::time_point until) { return until; });
  }
}

void FetchFailureMemory::forgetExpired(Clock::time_point now) {
  for (auto it = until_.begin(); it != until_.end();) {
    it = now < it->second ? std::next(it) : until_.erase(it);
  }
  for (auto it = timeOuts_.begin(); it != timeOuts_.end();) {
    it = now < it->second.since + kRememberFor ? std::next(it) : timeOuts_.erase(it);
  }
}

}  // namespace tavrin
