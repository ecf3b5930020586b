#include "lan_http_connection.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "fixtures/bounded_tcp.h"

namespace tavrin::bench {
namespace {

constexpr size_t kReadChunk = 256 * 1024;

}  // namespace

LanHttpConnection::LanHttpConnection(std::string address, int port, std::chrono::milliseconds timeout)
    : address_(std::move(address)), port_(port), timeout_(timeout) {}

LanHttpConnection::~LanHttpConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool LanHttpConnection::fail(const std::string& why) {
  failure_ = why;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
  return false;
}

bool LanHttpConnection::readMore(std::chrono::steady_clock::time_point deadline) {
  pollfd readable{fd_, POLLIN, 0};
  const int ready = ::poll(&readable, 1, testing::msLeft(deadline));
  if (ready != 1) return false;
  const size_t old = pending_.size();
  pending_.resize(old + kReadChunk);
  const ssize_t n = ::recv(fd_, &pending_[old], kReadChunk, 0);
  pending_.resize(old + static_cast<size_t>(n > 0 ? n : 0));
  return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

bool LanHttpConnection::exchange(const std::string& request, LanHttpAnswer& answer) {
  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  answer = LanHttpAnswer{};
  if (fd_ < 0) {
    fd_ = testing::connectWithin(address_, port_, static_cast<int>(timeout_.count()));
    if (fd_ < 0) return fail("connect failed");
    ++connects_;
  }
  if (!testing::sendAllWithin(fd_, request, deadline)) return fail("send failed");

  size_t headerEnd;
  while ((headerEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!readMore(deadline)) {
      return fail(pending_.empty() ? "closed or timed out before the answer" : "closed or timed out in the head");
    }
  }
  const std::string head = pending_.substr(0, headerEnd);
  pending_.erase(0, headerEnd + 4);
  const size_t space = head.find(' ');
  if (head.rfind("HTTP/1.", 0) != 0 || space == std::string::npos) return fail("not an HTTP answer");
  answer.status = std::atoi(head.c_str() + space + 1);
  long long length = -1;
  bool closeAfter = false;
  for (size_t start = head.find("\r\n"); start != std::string::npos;) {
    start += 2;
    const size_t end = head.find("\r\n", start);
    const std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) length = std::atoll(line.c_str() + 15);
    if (strncasecmp(line.c_str(), "Content-Range:", 14) == 0) answer.contentRange = line.substr(line.find_first_not_of(' ', 14));
    if (strncasecmp(line.c_str(), "Connection:", 11) == 0 && line.find("close") != std::string::npos) {
      closeAfter = true;
    }
    start = end;
  }
  if (length < 0) return fail("answer without Content-Length (status " + std::to_string(answer.status) + ")");

  // The body goes straight into the answer; what came with the head first.
  const size_t wanted = static_cast<size_t>(length);
  answer.body.swap(pending_);
  pending_.clear();
  if (answer.body.size() > wanted) {
    pending_.assign(answer.body, wanted, std::string::npos);
    answer.body.resize(wanted);
  }
  size_t have = answer.body.size();
  answer.body.resize(wanted);
  while (have < wanted) {
    pollfd readable{fd_, POLLIN, 0};
    if (::poll(&readable, 1, testing::msLeft(deadline)) != 1) {
      return fail("timed out in the body at " + std::to_string(have) + " of " + std::to_string(wanted));
    }
    const ssize_t n = ::recv(fd_, &answer.body[have], wanted - have, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return fail("closed in the body at " + std::to_string(have) + " of " + std::to_string(wanted));
    have += static_cast<size_t>(n);
  }
  if (closeAfter) {
    ::close(fd_);
    fd_ = -1;
    pending_.clear();
  }
  return true;
}

}  // namespace tavrin::bench
