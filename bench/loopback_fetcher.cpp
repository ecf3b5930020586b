#include "loopback_fetcher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace tavrin::bench {
namespace {

constexpr size_t kReadBuffer = 1 << 20;
constexpr int kTimeoutMs = 30000;

}  // namespace

LoopbackFetcher::LoopbackFetcher(int port) : port_(port), buffer_(kReadBuffer, '\0') {}

LoopbackFetcher::~LoopbackFetcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool LoopbackFetcher::connectToServer() {
  if (fd_ >= 0) ::close(fd_);
  pending_.clear();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const timeval timeout{kTimeoutMs / 1000, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool LoopbackFetcher::readMore() {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, kTimeoutMs) <= 0) return false;
  const ssize_t n = ::recv(fd_, &buffer_[0], buffer_.size(), 0);
  if (n <= 0) return false;
  pending_.append(buffer_, 0, static_cast<size_t>(n));
  return true;
}

int64_t LoopbackFetcher::fetch(const std::string& path, int expectedStatus, uint64_t first, uint64_t last) {
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (last >= first) request += "Range: bytes=" + std::to_string(first) + "-" + std::to_string(last) + "\r\n";
  request += "\r\n";
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (fd_ < 0 && !connectToServer()) return -1;
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) break;
    ::close(fd_);
    fd_ = -1;
    if (attempt == 1) return -1;
  }
  size_t headerEnd;
  while ((headerEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!readMore()) {
      ::close(fd_);
      fd_ = -1;
      return -1;
    }
  }
  const int status = std::atoi(pending_.c_str() + pending_.find(' ') + 1);
  uint64_t length = 0;
  bool closeAfter = false;
  size_t lineStart = pending_.find("\r\n") + 2;
  while (lineStart < headerEnd) {
    const size_t lineEnd = pending_.find("\r\n", lineStart);
    const std::string line = pending_.substr(lineStart, lineEnd - lineStart);
    if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) length = std::strtoull(line.c_str() + 15, nullptr, 10);
    if (strncasecmp(line.c_str(), "Connection:", 11) == 0 && line.find("close") != std::string::npos) {
      closeAfter = true;
    }
    lineStart = lineEnd + 2;
  }
  pending_.erase(0, headerEnd + 4);
  // Count the body without keeping it, reading straight into one buffer.
  uint64_t received = std::min<uint64_t>(length, pending_.size());
  pending_.erase(0, static_cast<size_t>(received));
  while (received < length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length - received, buffer_.size()));
    const ssize_t n = ::recv(fd_, &buffer_[0], want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd_);
      fd_ = -1;
      return -1;
    }
    received += static_cast<uint64_t>(n);
  }
  if (closeAfter) {
    ::close(fd_);
    fd_ = -1;
  }
  if (status != expectedStatus) return -1;
  return static_cast<int64_t>(received);
}

}  // namespace tavrin::bench
