#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tavrin
