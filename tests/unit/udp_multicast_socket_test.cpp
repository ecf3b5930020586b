// The SSDP socket on loopback only: nothing here joins a real multicast group
// or sends anywhere but 127.0.0.1 (the multicast paths run in the test LAN).
#include "ssdp/udp_multicast_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/system_error_text.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

// A plain UDP socket on 127.0.0.1 that plays the other side.
class Peer {
 public:
  explicit Peer(int port = 0) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address = loopback(port);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Peer() {
    if (fd_ >= 0) ::close(fd_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // 0 when the bind failed.
  int port() const { return port_; }

  bool sendTo(int port, const std::string& bytes) const {
    sockaddr_in to = loopback(port);
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
  }

  struct Datagram {
    std::string data;
    int senderPort;
  };
  std::optional<Datagram> receive(int timeoutMs) const {
    pollfd wait{fd_, POLLIN, 0};
    if (poll(&wait, 1, timeoutMs) != 1) return std::nullopt;
    std::string buffer(65536, '\0');
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t got = recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(got));
    return Datagram{buffer, ntohs(from.sin_port)};
  }

 private:
  static sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  int fd_;
  int port_ = 0;
};

// A loopback port nobody holds at this moment.
int freeLoopbackPort() { return Peer().port(); }

// Whether a port on 127.0.0.1 can be bound, i.e. no socket of ours holds it.
bool loopbackPortFree(int port) { return Peer(port).port() == port; }

// A socket whose reports are collected, converted to UTF-8.
struct ReportingSocket {
  std::vector<std::string> reports;
  UdpMulticastSocket socket{[this](const std::string& text) { reports.push_back(gbkToUtf8(text)); }};
};

// Whether the thread is asleep in poll, i.e. blocked inside receive.
bool blockedInPoll(long threadId) {
  std::ifstream file("/proc/self/task/" + std::to_string(threadId) + "/syscall");
  long number = -1;
  if (!(file >> number)) return false;
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

bool waitUntil(const std::function<bool()>& condition, milliseconds limit) {
  auto start = Clock::now();
  while (!condition()) {
    if (Clock::now() - start > limit) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

TEST(SystemErrorText, IsTheLibraryTextWithoutSurroundingSpaces) {
  EXPECT_EQ(systemErrorText(EADDRINUSE), "Address already in use");
  EXPECT_EQ(systemErrorText(EINVAL), "Invalid argument");
}

TEST(UdpMulticastSocket, ExchangesDatagramsWithAPeer) {
  ReportingSocket s;
  Peer peer;
  int port = freeLoopbackPort();
  ASSERT_TRUE(s.socket.open("127.0.0.1", port, false, false, ""));

  const std::string bytes("M-SEARCH\0tail", 13);
  ASSERT_TRUE(peer.sendTo(port, bytes));
  UdpReceiveResult result = s.socket.receive(0, 2000);
  ASSERT_TRUE(result.ok);
  ASSERT_TRUE(result.received);
  EXPECT_EQ(result.data, bytes);
  EXPECT_EQ(result.length, 13);
  EXPECT_EQ(result.senderAddress, "127.0.0.1");
  EXPECT_EQ(result.senderPort, peer.port());

  // The answer leaves from the bound port, as one datagram.
  ASSERT_TRUE(s.socket.send("answer", "127.0.0.1", peer.port()));
  auto answer = peer.receive(2000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, "answer");
  EXPECT_EQ(answer->senderPort, port);

  // Only the low 16 bits of the port count.
  ASSERT_TRUE(s.socket.send("wrapped", "127.0.0.1", peer.port() + 65536));
  answer = peer.receive(2000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, "wrapped");
  EXPECT_TRUE(s.reports.empty());
}

TEST(UdpMulticastSocket, DatagramsThatAreEmptyOrLongerThanTheBufferFail) {
  struct Case {
    int bufferSize;
    size_t datagramSize;
    bool ok;
    int length;
  };
  const Case cases[] = {
      {4, 4, true, 4},           {4, 5, false, -1},         {1, 1, true, 1},
      {0, 10240, true, 10240},   {0, 10241, false, -1},     {-7, 10241, false, -1},
      {0, 65507, false, -1},     {100000, 65507, true, 65507}, {0, 0, false, 0},
      {4, 0, false, 0},
  };
  UdpMulticastSocket socket(nullptr);
  Peer peer;
  int port = freeLoopbackPort();
  ASSERT_TRUE(socket.open("127.0.0.1", port, false, false, ""));
  for (const Case& c : cases) {
    SCOPED_TRACE("buffer " + std::to_string(c.bufferSize) + ", datagram " + std::to_string(c.datagramSize));
    ASSERT_TRUE(peer.sendTo(port, std::string(c.datagramSize, 'x')));
    UdpReceiveResult result = socket.receive(c.bufferSize, 2000);
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.received, c.ok);
    EXPECT_EQ(result.discarded, !c.ok);
    EXPECT_EQ(result.length, c.length);
    EXPECT_EQ(result.data.size(), c.ok ? c.datagramSize : 0u);

    // A failed datagram is gone and the socket goes on working.
    ASSERT_TRUE(peer.sendTo(port, "next"));
    result = socket.receive(0, 2000);
    EXPECT_TRUE(result.ok && result.received);
    EXPECT_EQ(result.data, "next");
  }
}

TEST(UdpMulticastSocket, DiscardWaitingDropsQueuedDatagramsUpToTheLimit) {
  UdpMulticastSocket socket(nullptr);
  EXPECT_EQ(socket.discardWaiting(10), 0);
  Peer peer;
  int port = freeLoopbackPort();
  ASSERT_TRUE(socket.open("127.0.0.1", port, false, false, ""));
  for (const std::string& datagram : {std::string("one"), std::string(), std::string(60000, 'x'),
                                      std::string("four"), std::string("five")}) {
    ASSERT_TRUE(peer.sendTo(port, datagram));
  }
  EXPECT_EQ(socket.discardWaiting(3), 3);
  EXPECT_EQ(socket.discardWaiting(100), 2);
  EXPECT_EQ(socket.discardWaiting(100), 0);

  ASSERT_TRUE(peer.sendTo(port, "next"));
  UdpReceiveResult result = socket.receive(0, 2000);
  EXPECT_TRUE(result.ok && result.received);
  EXPECT_EQ(result.data, "next");
}

TEST(UdpMulticastSocket, WaitsForTheTimeGivenOrOneSecondForZero) {
  UdpMulticastSocket socket(nullptr);
  ASSERT_TRUE(socket.open("127.0.0.1", 0, false, false, ""));

  auto start = Clock::now();
  UdpReceiveResult result = socket.receive(0, 60);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.received);
  EXPECT_GE(msSince(start), 55);
  EXPECT_LT(msSince(start), 900);

  start = Clock::now();
  result = socket.receive(0, 0);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.received);
  EXPECT_GE(msSince(start), 950);
  EXPECT_LT(msSince(start), 3000);
}

TEST(UdpMulticastSocket, WithoutASocketNothingIsSentOrReceived) {
  UdpMulticastSocket socket(nullptr);
  Peer peer;
  auto start = Clock::now();
  UdpReceiveResult none = socket.receive(0, -1);
  EXPECT_FALSE(none.ok);
  EXPECT_FALSE(none.discarded);
  EXPECT_FALSE(socket.send("x", "127.0.0.1", peer.port()));

  ASSERT_TRUE(socket.open("127.0.0.1", 0, false, false, ""));
  EXPECT_TRUE(socket.send("x", "127.0.0.1", peer.port()));
  socket.close();
  EXPECT_FALSE(socket.receive(0, -1).ok);
  EXPECT_FALSE(socket.send("y", "127.0.0.1", peer.port()));
  EXPECT_LT(msSince(start), 1000);
  auto got = peer.receive(500);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, "x");
  EXPECT_FALSE(peer.receive(100));
}

TEST(UdpMulticastSocket, BindsAllAddressesAndAnyPortWhenNoneIsGiven) {
  UdpMulticastSocket all(nullptr);
  int port = freeLoopbackPort();
  ASSERT_TRUE(all.open("", port, false, false, ""));
  EXPECT_FALSE(loopbackPortFree(port));  // 0.0.0.0 holds it for 127.0.0.1 too
  Peer peer;
  ASSERT_TRUE(peer.sendTo(port, "to all"));
  EXPECT_EQ(all.receive(0, 2000).data, "to all");

  // A port below zero is not taken as 65535 and so on: two sockets both get
  // a port of their own.
  UdpMulticastSocket first(nullptr);
  UdpMulticastSocket second(nullptr);
  EXPECT_TRUE(first.open("127.0.0.1", -1, false, false, ""));
  EXPECT_TRUE(second.open("127.0.0.1", -1, false, false, ""));
  EXPECT_TRUE(second.open("127.0.0.1", 0, true, false, ""));
}

TEST(UdpMulticastSocket, OpenClosesTheSocketItHadBefore) {
  UdpMulticastSocket socket(nullptr);
  int firstPort = freeLoopbackPort();
  ASSERT_TRUE(socket.open("127.0.0.1", firstPort, false, false, ""));
  int secondPort = freeLoopbackPort();
  ASSERT_TRUE(socket.open("127.0.0.1", secondPort, false, false, ""));
  EXPECT_TRUE(loopbackPortFree(firstPort));
  EXPECT_FALSE(loopbackPortFree(secondPort));
  Peer peer;
  ASSERT_TRUE(peer.sendTo(secondPort, "second"));
  EXPECT_EQ(socket.receive(0, 2000).data, "second");
}

TEST(UdpMulticastSocket, BindFailureReportsTheSystemTextAloneAndCloses) {
  ReportingSocket s;
  Peer holder;
  ASSERT_GT(holder.port(), 0);
  EXPECT_FALSE(s.socket.open("127.0.0.1", holder.port(), false, false, ""));
  EXPECT_EQ(s.reports, std::vector<std::string>{"Address already in use"});
  Peer peer;
  EXPECT_FALSE(s.socket.send("x", "127.0.0.1", peer.port()));
  EXPECT_FALSE(s.socket.receive(0, 10).ok);

  // An address the host does not have cannot be bound either.
  s.reports.clear();
  EXPECT_FALSE(s.socket.open("10.255.255.1", 0, false, false, ""));
  ASSERT_EQ(s.reports.size(), 1u);
  EXPECT_EQ(s.reports[0], gbkToUtf8(systemErrorText(EADDRNOTAVAIL)));
}

// 1.2.3.4 is no multicast group, so the kernel refuses the membership before
// anything is sent.
TEST(UdpMulticastSocket, MembershipFailureReportsItsPrefixAndLeavesTheSocketOpen) {
  ReportingSocket s;
  int port = freeLoopbackPort();
  EXPECT_FALSE(s.socket.open("127.0.0.1", port, false, true, "1.2.3.4"));
  EXPECT_EQ(s.reports, std::vector<std::string>{"加入组播失败：Invalid argument"});

  // Open but not bound: the port stays free, yet the socket still sends.
  EXPECT_TRUE(loopbackPortFree(port));
  Peer peer;
  EXPECT_TRUE(s.socket.send("still open", "127.0.0.1", peer.port()));
  auto got = peer.receive(2000);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, "still open");
}

// The program never joins its receive thread: destroying the socket must wake
// a thread blocked without limit, and that thread must not touch the object
// afterwards (the sanitizer builds check the latter).
TEST(UdpMulticastSocket, DestructionWakesAReceiveWaitingWithoutLimit) {
  for (int round = 0; round < 10; ++round) {
    auto socket = std::make_unique<UdpMulticastSocket>(nullptr);
    ASSERT_TRUE(socket->open("127.0.0.1", 0, false, false, ""));
    std::atomic<long> threadId{0};
    std::atomic<int> outcome{-1};
    UdpMulticastSocket* raw = socket.get();
    std::thread receiver([&] {
      threadId = static_cast<long>(syscall(SYS_gettid));
      outcome = raw->receive(0, -1).ok ? 1 : 0;
    });
    ASSERT_TRUE(waitUntil([&] { return threadId != 0 && blockedInPoll(threadId); }, milliseconds(5000)));
    auto start = Clock::now();
    socket.reset();
    EXPECT_LT(msSince(start), 2000);
    receiver.join();
    EXPECT_EQ(outcome, 0);
  }
}

// close may come at any moment of a receive: before it, while it waits, or
// while it reads. Every time the receive ends at once with ok false, and the
// socket can be opened again.
TEST(UdpMulticastSocket, CloseEndsAReceiveAtAnyMoment) {
  UdpMulticastSocket socket(nullptr);
  Peer peer;
  for (int round = 0; round < 60; ++round) {
    int port = freeLoopbackPort();
    ASSERT_TRUE(socket.open("127.0.0.1", port, false, false, ""));
    std::atomic<int> outcome{-1};
    std::thread receiver([&] { outcome = socket.receive(0, -1).ok ? 1 : 0; });
    if (round % 3 == 1) std::this_thread::sleep_for(std::chrono::microseconds(round * 20));
    if (round % 3 == 2) peer.sendTo(port, "racing");
    auto start = Clock::now();
    socket.close();
    receiver.join();
    EXPECT_LT(msSince(start), 2000);
    // A datagram read before close came is a fair result; a hang or a read
    // on a closed descriptor is not.
    EXPECT_TRUE(outcome == 0 || (round % 3 == 2 && outcome == 1)) << "round " << round;
  }
  int port = freeLoopbackPort();
  ASSERT_TRUE(socket.open("127.0.0.1", port, false, false, ""));
  ASSERT_TRUE(peer.sendTo(port, "after"));
  UdpReceiveResult result = socket.receive(0, 2000);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.data, "after");
}

TEST(UdpMulticastSocket, SendersAndAReceiverShareTheSocket) {
  UdpMulticastSocket socket(nullptr);
  int port = freeLoopbackPort();
  ASSERT_TRUE(socket.open("127.0.0.1", port, false, false, ""));
  constexpr int kPerSender = 50;
  std::vector<std::thread> senders;
  std::atomic<int> accepted{0};
  for (int t = 0; t < 2; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kPerSender; ++i) {
        if (socket.send(std::string(100, static_cast<char>('a' + t)), "127.0.0.1", port)) ++accepted;
      }
    });
  }
  int received = 0;
  for (int i = 0; i < 2 * kPerSender; ++i) {
    UdpReceiveResult result = socket.receive(0, 2000);
    if (!result.received) break;
    // Each datagram is whole and from one sender.
    EXPECT_TRUE(result.data == std::string(100, 'a') || result.data == std::string(100, 'b'));
    ++received;
  }
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(accepted, 2 * kPerSender);
  EXPECT_EQ(received, 2 * kPerSender);
}

}  // namespace
}  // namespace tavrin
