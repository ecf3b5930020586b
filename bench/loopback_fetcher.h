#pragma once
// The benchmark's client: one kept-alive HTTP/1.1 connection to 127.0.0.1
// that fetches a path (optionally a byte range) and counts the body bytes,
// reading with a large buffer and keeping nothing. The same client measures
// every server.
#include <cstdint>
#include <string>

namespace tavrin::bench {

class LoopbackFetcher {
 public:
  explicit LoopbackFetcher(int port);
  ~LoopbackFetcher();
  LoopbackFetcher(const LoopbackFetcher&) = delete;
  LoopbackFetcher& operator=(const LoopbackFetcher&) = delete;

  // GETs the path, with "Range: bytes=first-last" when last >= first, and
  // returns the number of body bytes read, or -1 on any failure or a status
  // other than the expected one. Reconnects when the server closed.
  int64_t fetch(const std::string& path, int expectedStatus, uint64_t first = 1, uint64_t last = 0);

 private:
  bool connectToServer();
  bool readMore();

  int port_;
  int fd_ = -1;
  std::string pending_;  // bytes read past the previous response
  std::string buffer_;
};

}  // namespace tavrin::bench
