#pragma once
// The SSDP socket: one IPv4 UDP socket, optionally joined to a multicast
// group, on which one thread waits for datagrams while others send.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace tavrin {

// What one receive brings. ok false: no socket, the wait failed or was
// interrupted by close or destruction, the socket reported an error, or the
// datagram was empty or longer than the buffer (length then holds 0 or -1,
// and discarded tells that the datagram was dropped and the socket goes on).
// ok true with received false: the wait timed out.
struct UdpReceiveResult {
  bool ok = false;
  bool received = false;
  bool discarded = false;
  std::string data;
  int length = 0;
  std::string senderAddress;
  std::uint16_t senderPort = 0;
};

class UdpMulticastSocket {
 public:
  // report shows a GBK text to the user; it is called for the failures of
  // open that the user must see, on the thread that called open.
  explicit UdpMulticastSocket(std::function<void(const std::string& gbkText)> report);
  // Wakes a thread blocked in receive (it gets ok false) and waits until no
  // thread is inside receive or send before the descriptors are closed.
  ~UdpMulticastSocket();
  UdpMulticastSocket(const UdpMulticastSocket&) = delete;
  UdpMulticastSocket& operator=(const UdpMulticastSocket&) = delete;

  // Closes any previous socket, then creates a non-blocking one, sets
  // SO_BROADCAST when asked, with multicast turns loopback on and joins
  // groupAddress on the default interface, and binds to bindAddress ("" =
  // 0.0.0.0) and port (0 or below = any). True when bound. After a failed
  // option or membership the socket stays open but unbound; after a failed
  // bind it is closed.
  bool open(const std::string& bindAddress, int port, bool broadcast, bool multicast,
            const std::string& groupAddress);

  // Closes the socket; a thread blocked in receive returns ok false.
  void close();

  // One datagram to the dotted IPv4 address and the low 16 bits of port;
  // true exactly when the system took all of data.
  bool send(const std::string& data, const std::string& address, int port);

  // Waits for one datagram and reads it into a buffer of bufferSize bytes
  // (below 1: 10240). timeoutMs 0 waits one second, a negative value without
  // limit.
  UdpReceiveResult receive(int bufferSize, int timeoutMs);

  // Drops the datagrams waiting in the socket's buffer, at most `limit` of
  // them, without waiting; returns how many went.
  int discardWaiting(int limit);

 private:
  class Use;

  void closeSocket();
  void waitUntilUnused(std::unique_lock<std::mutex>& lock);

  const std::function<void(const std::string&)> report_;
  // Readable while close or destruction wants the waiting threads out.
  int wakeFd_ = -1;

  // Serialises open, close and destruction.
  std::mutex lifecycleMutex_;

  std::mutex stateMutex_;
  std::condition_variable unused_;
  int socketFd_ = -1;
  int users_ = 0;  // threads inside receive or send with socketFd_
};

}  // namespace tavrin
