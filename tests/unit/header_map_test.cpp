#include <gtest/gtest.h>

#include <chrono>

#include "platform/text_encoding.h"
#include "ssdp/header_map.h"

namespace tavrin {
namespace {

TEST(HeaderMap, FindsHeadersWhateverTheirCase) {
  HeaderMap headers;
  headers.parse(
      "HTTP/1.1 200 OK\r\n"
      "location: http://10.0.0.2:49152/description.xml\r\n"
      "USN :uuid:x::upnp:rootdevice\r\n"
      "St:\tupnp:rootdevice \r\n"
      "Server:" + utf8ToGbk("　Linux　") + "\r\n"
      "no colon here\r\n"
      "EXT:\r\n");
  EXPECT_EQ(headers.get("LOCATION"), "http://10.0.0.2:49152/description.xml");
  EXPECT_EQ(headers.get("Location"), "http://10.0.0.2:49152/description.xml");
  // A space between name and colon belongs to the name.
  EXPECT_EQ(headers.get("USN"), "");
  EXPECT_EQ(headers.get("USN "), "uuid:x::upnp:rootdevice");
  EXPECT_EQ(headers.get("st"), "\tupnp:rootdevice");
  EXPECT_EQ(headers.get("server"), "Linux");
  EXPECT_EQ(headers.get("ext"), "");
  EXPECT_EQ(headers.get("no colon here"), "");
}

TEST(HeaderMap, LaterLinesReplaceEarlierOnesAndParsesAdd) {
  HeaderMap headers;
  headers.parse("A: 1\r\nB: 2\r\na: 3");
  headers.parse("C: 4\r\n");
  EXPECT_EQ(headers.get("A"), "3");
  EXPECT_EQ(headers.get("B"), "2");
  EXPECT_EQ(headers.get("C"), "4");
}

TEST(HeaderMap, IgnoresNamesThatReadAsPaths) {
  HeaderMap headers;
  headers.parse("//A.B[1]: x\r\n//C: y\r\nD: z\r\n");
  EXPECT_EQ(headers.get("//A.B[1]"), "");
  EXPECT_EQ(headers.get("//C"), "");
  EXPECT_EQ(headers.get("D"), "z");
}

// A CR LF ends a line only where it begins a character: behind a GBK lead
// byte, CR is that character's second byte.
TEST(HeaderMap, LineEndsFallOnCharacterBoundaries) {
  HeaderMap headers;
  headers.parse("A: \x81\r\nB: 2\r\nC: \x81\x40\r\nD: 4");
  EXPECT_EQ(headers.get("A"), "\x81\r\nB: 2");
  EXPECT_EQ(headers.get("B"), "");
  EXPECT_EQ(headers.get("C"), "\x81\x40");
  EXPECT_EQ(headers.get("D"), "4");
}

// The largest datagram, all short lines (16,000 of them): read in one walk,
// not one search from the start per line, which took seconds a datagram.
TEST(HeaderMap, ADatagramOfManyShortLinesReadsInLinearTime) {
  std::string datagram = "NOTIFY * HTTP/1.1\r\n";
  const std::string tail = "LOCATION: http://10.0.0.2:80/d.xml\r\n\r\n";
  while (datagram.size() + 4 + tail.size() <= 65507) datagram += "a:\r\n";
  datagram += tail;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    HeaderMap headers;
    headers.parse(datagram);
    EXPECT_EQ(headers.get("location"), "http://10.0.0.2:80/d.xml");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tavrin
