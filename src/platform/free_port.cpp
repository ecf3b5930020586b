#include "platform/free_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/local_addresses.h"

namespace tavrin {
namespace {

// Bounds the probe of one port: the host's own address refuses at once
// unless a filter drops the connection attempt.
constexpr int kConnectTimeoutMs = 1000;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// True when a TCP connection to address:port is accepted.
bool portTaken(const in_addr& address, int port) {
  Fd socketFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socketFd.get() < 0) return false;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr = address;
  if (::connect(socketFd.get(), reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd wait{socketFd.get(), POLLOUT, 0};
  if (::poll(&wait, 1, kConnectTimeoutMs) != 1) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return ::getsockopt(socketFd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

int findFreePort(int first) {
  std::vector<std::string> addresses = getLocalIpv4Addresses();
  in_addr address{};
  if (addresses.empty() || inet_pton(AF_INET, addresses.front().c_str(), &address) != 1) return first;
  for (int port = first; port < first + 10; ++port) {
    if (!portTaken(address, port)) return port;
  }
  return -1;
}

}  // namespace tavrin
