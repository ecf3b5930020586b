#include <gtest/gtest.h>

#include "platform/local_addresses.h"
#include "ssdp/ssdp_messages.h"

namespace tavrin {
namespace {

TEST(SsdpMessages, SearchDatagramIsTheSevenLinesAndTheEmptyLine) {
  std::string datagram = buildSearchDatagram();
  EXPECT_EQ(datagram,
            "M-SEARCH * HTTP/1.1\r\nMX: 5\r\nST: upnp:rootdevice\r\nMAN: \"ssdp:discover\"\r\n"
            "User-Agent: UPnP/1.0 DLNADOC/1.50 Platinum/1.0.5.13\r\nConnection: close\r\n"
            "Host: 239.255.255.250:1900\r\n\r\n");
  EXPECT_EQ(datagram.size(), 173u);
}

TEST(SsdpMessages, AnswerNamesTheRendererAndEndsWithZero) {
  std::string answer = buildSearchAnswer("192.168.1.5:18889");
  EXPECT_EQ(answer, std::string("HTTP/1.1 200 OK\r\n"
                                "ST: upnp:rootdevice\r\n"
                                "USN: uuid:KQVDKQVDKQVD::upnp:rootdevice\r\n"
                                "Location: http://192.168.1.5:18889/description.xml\r\n"
                                "OPT:\"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
                                "Cache-Control: max-age=1800\r\n"
                                "Server: Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0\r\n"
                                "Ext: \r\n"
                                "\r\n",
                                279) +
                        std::string(1, '\0'));
  EXPECT_EQ(answer.size(), 280u);
}

TEST(SsdpMessages, AnswerAddressIsTheFirstThatContainsTheSendersPrefix) {
  const std::vector<std::string> local = {"10.0.0.7", "192.168.1.5"};
  EXPECT_EQ(localAddressInNetworkOf("192.168.1.23", local), "192.168.1.5");
  EXPECT_EQ(localAddressInNetworkOf("10.0.0.3", local), "10.0.0.7");
  // A substring test, not a test of the start.
  EXPECT_EQ(localAddressInNetworkOf("0.0.0.9", local), "10.0.0.7");
  EXPECT_EQ(localAddressInNetworkOf("172.16.0.2", local), "");
  EXPECT_EQ(localAddressInNetworkOf("10.0.0.3", {}), "");
}

}  // namespace
}  // namespace tavrin
