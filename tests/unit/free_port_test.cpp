#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/free_port.h"
#include "platform/local_addresses.h"

namespace tavrin {
namespace {

// A listening TCP socket on 127.0.0.1:port; taken() is false when the port
// could not be had.
class Listener {
 public:
  explicit Listener(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    taken_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(fd_, 4) == 0;
  }
  ~Listener() { ::close(fd_); }
  bool taken() const { return taken_; }

 private:
  int fd_;
  bool taken_ = false;
};

class FindFreePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = setLocalAddressSource([] { return std::vector<std::string>{"127.0.0.1"}; });
    // Ten ports in a row that this test can hold.
    for (base_ = 42000; base_ < 60000; base_ += 10) {
      listeners_.clear();
      for (int i = 0; i < 10; ++i) {
        auto listener = std::make_unique<Listener>(base_ + i);
        if (!listener->taken()) break;
        listeners_.push_back(std::move(listener));
      }
      if (listeners_.size() == 10) return;
    }
    FAIL() << "no ten free ports in a row";
  }
  void TearDown() override { setLocalAddressSource(previous_); }

  void release(int count) { listeners_.erase(listeners_.begin() + count, listeners_.end()); }

  int base_ = 0;
  std::vector<std::unique_ptr<Listener>> listeners_;
  LocalAddressSource previous_;
};

TEST_F(FindFreePortTest, ReturnsTheFirstPortNobodyAccepts) {
  EXPECT_EQ(findFreePort(base_), -1);
  release(3);
  EXPECT_EQ(findFreePort(base_), base_ + 3);
  release(0);
  EXPECT_EQ(findFreePort(base_), base_);
}

TEST_F(FindFreePortTest, ReturnsFirstWhenTheProbeCannotRun) {
  setLocalAddressSource([] { return std::vector<std::string>{}; });
  EXPECT_EQ(findFreePort(base_), base_);
  setLocalAddressSource([] { return std::vector<std::string>{"not an address"}; });
  EXPECT_EQ(findFreePort(base_), base_);
}

TEST(LocalAddresses, SystemListHasDottedAddressesWithoutLoopback) {
  for (const std::string& address : getLocalIpv4Addresses()) {
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_NE(address.rfind("127.", 0), 0u) << address;
  }
  auto previous = setLocalAddressSource([] { return std::vector<std::string>{"10.0.0.5"}; });
  EXPECT_EQ(getLocalIpv4Addresses(), std::vector<std::string>{"10.0.0.5"});
  setLocalAddressSource(previous);
}

}  // namespace
}  // namespace tavrin
