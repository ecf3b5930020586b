// The SSDP socket on the test LAN: opened on "host" exactly as the program
// opens it, it gets group datagrams from "phone" and its own ones back.
// The phone side is this same program, started again on "phone" with --send.
// Both sides refuse to run outside their LAN host, so that nothing joins a
// group or multicasts on a real network.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/lan_process.h"
#include "platform/text_encoding.h"
#include "ssdp/udp_multicast_socket.h"

namespace tavrin {
namespace {

constexpr char kGroup[] = "239.255.255.250";
constexpr int kSsdpPort = 1900;
constexpr char kHostAddress[] = "10.77.0.1";
constexpr char kPhoneAddress[] = "10.77.0.3";
constexpr int kPhoneSourcePort = 41900;
constexpr int kReceiveTimeoutMs = 5000;

// The phone side: sends each payload ("size:N" = N bytes, "text:T" = T) as
// one datagram from sourcePort to address:port, in order.
int sendFromHere(int argc, char** argv) {
  if (argc < 6) return 2;
  if (!testing::hasLocalAddress(kPhoneAddress)) {
    std::fprintf(stderr, "--send runs only on the test LAN's phone\n");
    return 3;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(std::stoi(argv[2])));
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return 4;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(argv[4])));
  if (inet_pton(AF_INET, argv[3], &to.sin_addr) != 1) return 2;
  int status = 0;
  for (int i = 5; i < argc; ++i) {
    std::string payload = argv[i];
    std::string bytes = payload.rfind("size:", 0) == 0 ? std::string(std::stoul(payload.substr(5)), 'p')
                                                      : payload.substr(payload.find(':') + 1);
    ssize_t sent = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent != static_cast<ssize_t>(bytes.size())) status = 5;
  }
  close(fd);
  return status;
}

// Runs this program on phone with --send and the payloads, sending to the
// SSDP group; true when it exited 0 within ten seconds.
bool sendFromPhone(const std::vector<std::string>& payloads) {
  std::vector<std::string> command = {testing::ownProgramPath(), "--send", std::to_string(kPhoneSourcePort), kGroup,
                                      std::to_string(kSsdpPort)};
  command.insert(command.end(), payloads.begin(), payloads.end());
  testing::LanProcess phone(TAVRIN_LAN_SCRIPT, "phone", command, std::chrono::seconds(10));
  return phone.waitForExit(std::chrono::seconds(10)) == 0;
}

// The socket as the program opens it, with its reports collected.
struct SsdpSocket {
  std::vector<std::string> reports;
  UdpMulticastSocket socket{[this](const std::string& text) { reports.push_back(gbkToUtf8(text)); }};

  bool open() { return socket.open("", kSsdpPort, false, true, kGroup); }
};

TEST(MulticastLan, GroupDatagramFromPhoneReachesTheHostMember) {
  SsdpSocket s;
  ASSERT_TRUE(s.open());
  EXPECT_TRUE(s.reports.empty());
  const std::string search =
      "M-SEARCH * HTTP/1.1\r\nMX: 5\r\nST: upnp:rootdevice\r\nMAN: \"ssdp:discover\"\r\n"
      "Host: 239.255.255.250:1900\r\n";
  ASSERT_TRUE(sendFromPhone({"text:" + search}));

  UdpReceiveResult result = s.socket.receive(0, kReceiveTimeoutMs);
  ASSERT_TRUE(result.ok);
  ASSERT_TRUE(result.received);
  EXPECT_EQ(result.data, search);
  EXPECT_EQ(result.length, static_cast<int>(search.size()));
  EXPECT_EQ(result.senderAddress, kPhoneAddress);
  EXPECT_EQ(result.senderPort, kPhoneSourcePort);

  // An answer to the sender's address and port reaches it as one datagram.
  EXPECT_TRUE(s.socket.send("HTTP/1.1 200 OK\r\n\r\n", result.senderAddress, result.senderPort));
}

TEST(MulticastLan, OwnGroupDatagramComesBackToTheMember) {
  SsdpSocket s;
  ASSERT_TRUE(s.open());
  const std::string own = "M-SEARCH * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\n";
  ASSERT_TRUE(s.socket.send(own, kGroup, kSsdpPort));

  UdpReceiveResult result = s.socket.receive(0, kReceiveTimeoutMs);
  ASSERT_TRUE(result.ok);
  ASSERT_TRUE(result.received);
  EXPECT_EQ(result.data, own);
  EXPECT_EQ(result.senderAddress, kHostAddress);
  EXPECT_EQ(result.senderPort, kSsdpPort);
}

TEST(MulticastLan, EmptyAndOversizedGroupDatagramsFailAndTheSocketGoesOn) {
  SsdpSocket s;
  ASSERT_TRUE(s.open());

  // Each is sent alone and read before the next, so a failure is known to be
  // that datagram's and not a time-out (which would give ok true).
  ASSERT_TRUE(sendFromPhone({"size:0"}));
  UdpReceiveResult result = s.socket.receive(0, kReceiveTimeoutMs);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.discarded);
  EXPECT_EQ(result.length, 0);

  // The largest IPv4 datagram, in fragments over the LAN.
  ASSERT_TRUE(sendFromPhone({"size:65507"}));
  result = s.socket.receive(0, kReceiveTimeoutMs);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.discarded);
  EXPECT_EQ(result.length, -1);
  EXPECT_TRUE(result.data.empty());

  // A datagram of exactly the default buffer still fits.
  ASSERT_TRUE(sendFromPhone({"size:10240", "text:after"}));
  result = s.socket.receive(0, kReceiveTimeoutMs);
  ASSERT_TRUE(result.ok && result.received);
  EXPECT_EQ(result.length, 10240);
  result = s.socket.receive(0, kReceiveTimeoutMs);
  ASSERT_TRUE(result.ok && result.received);
  EXPECT_EQ(result.data, "after");
  EXPECT_EQ(result.senderAddress, kPhoneAddress);

  // Nothing else is left.
  result = s.socket.receive(0, 200);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.received);
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--send") return tavrin::sendFromHere(argc, argv);
  if (!tavrin::testing::hasLocalAddress(tavrin::kHostAddress)) {
    std::fprintf(stderr, "multicast_lan_test runs only on the test LAN's host: scripts/lan exec host %s\n",
                 argv[0]);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
