#pragma once
// The soak benchmark's HTTP client: one kept-alive HTTP/1.1 connection to a
// server on the test LAN, made again when the server closed it. Each
// exchange sends one request and reads one whole answer with a
// Content-Length, within a time limit, and says what went wrong if it fails.
#include <chrono>
#include <string>

namespace tavrin::bench {

struct LanHttpAnswer {
  int status = 0;
  std::string contentRange;  // empty when none
  std::string body;
};

class LanHttpConnection {
 public:
  LanHttpConnection(std::string address, int port, std::chrono::milliseconds timeout);
  ~LanHttpConnection();
  LanHttpConnection(const LanHttpConnection&) = delete;
  LanHttpConnection& operator=(const LanHttpConnection&) = delete;

  // Sends the request (whole, as bytes) and reads its answer. False on a
  // failed connect, send or read, a time-out, or an answer without
  // Content-Length; failure() then says which, and the connection is closed.
  bool exchange(const std::string& request, LanHttpAnswer& answer);
  const std::string& failure() const { return failure_; }
  // Connections made so far; more than one means the server closed some.
  long connects() const { return connects_; }

 private:
  bool fail(const std::string& why);
  bool readMore(std::chrono::steady_clock::time_point deadline);

  std::string address_;
  int port_;
  std::chrono::milliseconds timeout_;
  int fd_ = -1;
  long connects_ = 0;
  std::string pending_;  // bytes read but not yet taken
  std::string failure_;
};

}  // namespace tavrin::bench
