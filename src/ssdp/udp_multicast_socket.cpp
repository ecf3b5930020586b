#include "ssdp/udp_multicast_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "platform/system_error_text.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

constexpr int kDefaultBufferSize = 10240;
constexpr int kDefaultTimeoutMs = 1000;
// No IPv4 UDP datagram is longer, so a larger buffer would never be filled.
constexpr size_t kLargestBuffer = 65536;

sockaddr_in ipv4Address(const std::string& dotted, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = inet_addr(dotted.c_str());
  return address;
}

}  // namespace

// Registers the calling thread as a user of the socket for the length of one
// receive or send, so that close and destruction never pull the descriptor
// away under it. The last thing it does is unlock the state mutex: after
// that the object may be gone.
class UdpMulticastSocket::Use {
 public:
  explicit Use(UdpMulticastSocket& owner) : owner_(owner) {
    std::lock_guard<std::mutex> lock(owner_.stateMutex_);
    fd_ = owner_.socketFd_;
    if (fd_ >= 0) ++owner_.users_;
  }
  ~Use() {
    if (fd_ < 0) return;
    std::lock_guard<std::mutex> lock(owner_.stateMutex_);
    if (--owner_.users_ == 0) owner_.unused_.notify_all();
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  int fd() const { return fd_; }

 private:
  UdpMulticastSocket& owner_;
  int fd_ = -1;
};

UdpMulticastSocket::UdpMulticastSocket(std::function<void(const std::string&)> report)
    : report_(std::move(report)), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

UdpMulticastSocket::~UdpMulticastSocket() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  closeSocket();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool UdpMulticastSocket::open(const std::string& bindAddress, int port, bool broadcast,
                              bool multicast, const std::string& groupAddress) {
  std::optional<std::string> failure;
  {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    closeSocket();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      socketFd_ = fd;
    }
    const int one = 1;
    if (broadcast && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) return false;
    if (multicast) {
      if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &one, sizeof one) != 0) {
        int error = errno;
        failure = utf8ToGbk("设置回环失败：") + systemErrorText(error);
      } else {
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = inet_addr(groupAddress.c_str());
        membership.imr_interface.s_addr = htonl(INADDR_ANY);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
          int error = errno;
          failure = utf8ToGbk("加入组播失败：") + systemErrorText(error);
        }
      }
    }
    if (!failure) {
      sockaddr_in local = ipv4Address(bindAddress.empty() ? "0.0.0.0" : bindAddress, std::max(port, 0));
      if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return true;
      int error = errno;
      failure = systemErrorText(error);
      closeSocket();
    }
  }
  // Reported outside the lock: the routine may block on a message box, and
  // may even use this object.
  if (report_) report_(*failure);
  return false;
}

void UdpMulticastSocket::close() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  closeSocket();
}

bool UdpMulticastSocket::send(const std::string& data, const std::string& address, int port) {
  Use use(*this);
  sockaddr_in to = ipv4Address(address, port);
  ssize_t sent = ::sendto(use.fd(), data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                          sizeof to);
  return sent >= 0 && static_cast<size_t>(sent) == data.size();
}

UdpReceiveResult UdpMulticastSocket::receive(int bufferSize, int timeoutMs) {
  Use use(*this);
  UdpReceiveResult result;
  if (use.fd() < 0 || wakeFd_ < 0) return result;

  using Clock = std::chrono::steady_clock;
  const int waitMs = timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
  pollfd waits[2] = {{use.fd(), POLLIN | POLLPRI, 0}, {wakeFd_, POLLIN, 0}};
  for (;;) {
    int remainingMs = -1;
    if (waitMs >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      remainingMs = static_cast<int>(std::max<decltype(left)>(left, 0));
    }
    int ready = ::poll(waits, 2, remainingMs);
    if (ready > 0) break;
    if (ready == 0) {
      result.ok = true;
      return result;
    }
    // A signal is no failure of the wait: wait again for the time left.
    if (errno != EINTR) return result;
  }
  if (waits[1].revents != 0) return result;
  if (waits[0].revents != POLLIN && waits[0].revents != POLLPRI) return result;

  const size_t size = bufferSize < 1 ? kDefaultBufferSize : static_cast<size_t>(bufferSize);
  std::string buffer(std::min(size, kLargestBuffer), '\0');
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  // MSG_TRUNC makes recvfrom return the datagram's full length, so one longer
  // than the buffer is told apart from one that just fits.
  ssize_t got = ::recvfrom(use.fd(), buffer.data(), buffer.size(), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (got == 0 || static_cast<size_t>(got) > buffer.size()) {
    result.discarded = true;
    result.length = got == 0 ? 0 : -1;
    return result;
  }
  if (got < 0) {
    result.length = -1;
    return result;
  }
  buffer.resize(static_cast<size_t>(got));
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
  result.ok = true;
  result.received = true;
  result.data = std::move(buffer);
  result.length = static_cast<int>(got);
  result.senderAddress = dotted;
  result.senderPort = ntohs(from.sin_port);
  return result;
}

int UdpMulticastSocket::discardWaiting(int limit) {
  Use use(*this);
  int discarded = 0;
  char byte;
  // A zero-length read takes the whole datagram off the buffer.
  while (use.fd() >= 0 && discarded < limit && ::recv(use.fd(), &byte, 0, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    ++discarded;
  }
  return discarded;
}

// Called with lifecycleMutex_ held.
void UdpMulticastSocket::closeSocket() {
  std::unique_lock<std::mutex> lock(stateMutex_);
  int fd = socketFd_;
  socketFd_ = -1;
  waitUntilUnused(lock);
  lock.unlock();
  if (fd >= 0) ::close(fd);
}

// The wake-up descriptor stays readable until every user has left, so a
// receiver that has registered but not yet reached poll cannot miss it; and
// every user leaves promptly (send never blocks), so the wait is short.
void UdpMulticastSocket::waitUntilUnused(std::unique_lock<std::mutex>& lock) {
  if (users_ == 0) return;
  if (wakeFd_ >= 0) eventfd_write(wakeFd_, 1);
  unused_.wait(lock, [this] { return users_ == 0; });
  eventfd_t drained = 0;
  if (wakeFd_ >= 0) eventfd_read(wakeFd_, &drained);
}

}  // namespace tavrin
