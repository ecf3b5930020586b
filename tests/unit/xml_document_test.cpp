#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/text_encoding.h"
#include "platform/xml_document.h"

namespace tavrin {
namespace {

// A renderer's device description as gmediarender and TVs send it, with a
// comment and blank text between the elements.
const char kDescription[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">\r\n"
    "  <specVersion><major>1</major><minor>0</minor></specVersion>\r\n"
    "  <!-- the device -->\r\n"
    "  <device>\r\n"
    "    <deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>\r\n"
    "    <friendlyName>Living Room</friendlyName>\r\n"
    "    <dlna:X_DLNADOC>DMR-1.50</dlna:X_DLNADOC>\r\n"
    "    <serviceList>\r\n"
    "      <service>\r\n"
    "        <serviceType>urn:schemas-upnp-org:service:RenderingControl:1</serviceType>\r\n"
    "        <serviceId>urn:upnp-org:serviceId:RenderingControl</serviceId>\r\n"
    "        <SCPDURL>/rc.xml</SCPDURL>\r\n"
    "        <controlURL>/rc/control</controlURL>\r\n"
    "      </service>\r\n"
    "      <!-- a comment is no child element -->\r\n"
    "      <service>\r\n"
    "        <serviceType>urn:schemas-upnp-org:service:AVTransport:1</serviceType>\r\n"
    "        <serviceId>urn:upnp-org:serviceId:AVTransport</serviceId>\r\n"
    "        <SCPDURL>/avt.xml</SCPDURL>\r\n"
    "        <controlURL>/avt/control</controlURL>\r\n"
    "      </service>\r\n"
    "    </serviceList>\r\n"
    "  </device>\r\n"
    "  <URLBase>http://192.168.1.20:49152/</URLBase>\r\n"
    "</root>\r\n";

const char kSoapResponse[] =
    "<?xml version=\"1.0\"?>"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<s:Body><u:GetMediaInfoResponse xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">"
    "<NrTracks>1</NrTracks><CurrentURI>http://10.0.0.9/v.m3u8?a=1&amp;b=2</CurrentURI>"
    "<CurrentURIMetaData></CurrentURIMetaData>"
    "</u:GetMediaInfoResponse></s:Body></s:Envelope>";

TEST(XmlDocument, ReadsADeviceDescriptionByPaths) {
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(kDescription));
  EXPECT_EQ(document.nodeText("root/device/friendlyName"), "Living Room");
  EXPECT_EQ(document.nodeText("root/device/dlna:X_DLNADOC"), "DMR-1.50");
  EXPECT_EQ(document.nodeText("root/URLBase"), "http://192.168.1.20:49152/");
  EXPECT_EQ(document.childCount("root/device/serviceList"), 2);
  EXPECT_EQ(document.nodeText("root/device/serviceList/@2/controlURL"), "/avt/control");
  EXPECT_EQ(document.nodeText("root/device/serviceList/@1/SCPDURL"), "/rc.xml");
  EXPECT_EQ(document.nodeName("root/device/@3"), "dlna:X_DLNADOC");
  EXPECT_EQ(document.nodeName("root"), "root");
  EXPECT_EQ(document.childCount("root"), 3);
  EXPECT_EQ(document.childCount("root/device/friendlyName"), 0);
}

TEST(XmlDocument, PathsThatCannotBeFollowedResolveToNothing) {
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(kDescription));
  const char* paths[] = {
      "",
      "/",
      "root/",
      "/root",
      "root//device",
      "Root/device",
      "device",
      "@1",
      "root/device/friendlyname",
      "root/device/X_DLNADOC",
      "root/device/DLNA:X_DLNADOC",
      "root/device/serviceList/@0",
      "root/device/serviceList/@3",
      "root/device/serviceList/@",
      "root/device/serviceList/@abc",
      "root/device/serviceList/@-1",
      "root/device/serviceList/@1x",
      "root/device/serviceList/@99999999999",
      "root/device/friendlyName/@1",
      "root/missing/friendlyName",
  };
  for (const char* path : paths) {
    EXPECT_EQ(document.nodeText(path), "") << path;
    EXPECT_EQ(document.nodeName(path), "") << path;
    EXPECT_EQ(document.childCount(path), 0) << path;
  }
}

TEST(XmlDocument, ReadsASoapResponseByPositions) {
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(kSoapResponse));
  EXPECT_EQ(document.nodeName("s:Envelope/s:Body/@1"), "u:GetMediaInfoResponse");
  EXPECT_EQ(document.childCount("s:Envelope/s:Body/@1"), 3);
  EXPECT_EQ(document.nodeName("s:Envelope/s:Body/@1/@2"), "CurrentURI");
  EXPECT_EQ(document.nodeText("s:Envelope/s:Body/@1/@2"), "http://10.0.0.9/v.m3u8?a=1&b=2");
  EXPECT_EQ(document.nodeText("s:Envelope/s:Body/@1/@3"), "");
  EXPECT_EQ(document.nodeName("s:Envelope/s:Body/@1/@4"), "");
}

TEST(XmlDocument, KeepsGbkBytesWhole) {
  // GBK text with characters whose second byte reads as "@", "[", "]" and a
  // backslash, in a text, an element name and a CDATA section; the
  // declaration names another encoding, which must not cause a conversion.
  const std::string name = utf8ToGbk("客厅电视") + "\x81\x40\x81\x5B\x81\x5D\x95\x5C";
  const std::string element = utf8ToGbk("名称");
  const std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><root><device><friendlyName>" +
                          name + "</friendlyName><" + element + ">x</" + element + "><c><![CDATA[" +
                          name + "]]></c></device></root>";
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(xml));
  EXPECT_EQ(document.nodeText("root/device/friendlyName"), name);
  EXPECT_EQ(document.nodeText("root/device/" + element), "x");
  EXPECT_EQ(document.nodeName("root/device/@2"), element);
  EXPECT_EQ(document.nodeText("root/device/c"), name);
}

TEST(XmlDocument, DecodesPredefinedEntitiesAndCharacterReferences) {
  struct Case {
    std::string content;
    std::string expected;
  };
  const Case cases[] = {
      {"&lt;a&gt; &amp; &apos;b&apos; &quot;c&quot;", "<a> & 'b' \"c\""},
      {"&amp;lt;", "&lt;"},
      {"&#65;&#x42;&#x43;", "ABC"},
      {"&#x4E2D;&#20013;", "\xD6\xD0\xD6\xD0"},  // GBK, not UTF-8
      {"&#x1F600;", "?"},                        // a character GBK lacks
      {"&#0;&#xD800;&#x110000;&#;&#x;&#X41;&#12a;", "&#0;&#xD800;&#x110000;&#;&#x;&#X41;&#12a;"},
      {"&unknown; &lt &", "&unknown; &lt &"},
      {"<![CDATA[&lt;kept&gt;]]>", "&lt;kept&gt;"},
      {"a<!-- comment -->b", "ab"},
      {"one <b>two</b> three", "one two three"},
      {"line\r\nbreak", "line\nbreak"},
  };
  for (const Case& c : cases) {
    XmlDocument document;
    ASSERT_TRUE(document.loadBytes("<t>" + c.content + "</t>")) << c.content;
    EXPECT_EQ(document.nodeText("t"), c.expected) << c.content;
  }
}

TEST(XmlDocument, AFailedLoadLeavesTheDocumentEmpty) {
  const std::string malformed[] = {
      "",
      "plain text",
      "<root>",
      "<root><a></root>",
      "<root></Root>",
      "<root attr=\"x></root>",
      "<root>&</root><",
      "<!-- only a comment -->",
      "<?xml version=\"1.0\"?>",
      std::string("<root>\0</root>", 14),
  };
  for (const std::string& xml : malformed) {
    XmlDocument document;
    ASSERT_TRUE(document.loadBytes(kDescription));
    EXPECT_FALSE(document.loadBytes(xml)) << xml;
    EXPECT_EQ(document.nodeText("root/device/friendlyName"), "") << xml;
    EXPECT_EQ(document.childCount("root"), 0) << xml;
    EXPECT_EQ(document.nodeName("root"), "") << xml;
  }
}

TEST(XmlDocument, ReleaseAndReloadReplaceTheContent) {
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(kDescription));
  document.release();
  EXPECT_EQ(document.nodeText("root/device/friendlyName"), "");
  ASSERT_TRUE(document.loadBytes(kSoapResponse));
  EXPECT_EQ(document.nodeName("root"), "");
  ASSERT_TRUE(document.loadBytes(kDescription));
  EXPECT_EQ(document.nodeName("s:Envelope"), "");
  EXPECT_EQ(document.nodeText("root/device/friendlyName"), "Living Room");
}

TEST(XmlDocument, NeverExpandsDeclaredOrExternalEntities) {
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  bomb += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
  for (int i = 2; i <= 9; ++i) {
    std::string previous = "&lol" + std::to_string(i - 1) + ";";
    std::string value;
    for (int j = 0; j < 10; ++j) value += previous;
    bomb += "<!ENTITY lol" + std::to_string(i) + " \"" + value + "\">";
  }
  bomb += "]><lolz>&lol9;</lolz>";
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">"
      "<!ENTITY % pe SYSTEM \"http://127.0.0.1:9/x.dtd\"> %pe;]><r>&xxe;</r>";
  const std::string externalDtd =
      "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r>plain</r>";

  auto started = std::chrono::steady_clock::now();
  XmlDocument document;
  // The DOCTYPE is skipped: the documents load, the references stay as
  // written, and nothing is read from outside.
  ASSERT_TRUE(document.loadBytes(bomb));
  EXPECT_EQ(document.nodeText("lolz"), "&lol9;");
  ASSERT_TRUE(document.loadBytes(external));
  EXPECT_EQ(document.nodeText("r"), "&xxe;");
  ASSERT_TRUE(document.loadBytes(externalDtd));
  EXPECT_EQ(document.nodeText("r"), "plain");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST(XmlDocument, HandlesDeepNestingWithoutRecursion) {
  const int depth = 200000;
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<a>";
  xml += "deep";
  for (int i = 0; i < depth; ++i) xml += "</a>";
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(xml));
  EXPECT_EQ(document.nodeText("a"), "deep");
  EXPECT_EQ(document.childCount("a/@1/a"), 1);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(XmlDocumentPositions, ReadsChildrenInAnyOrderAndAcrossParents) {
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes("<r><a><x>1</x><!--c--><x>2</x>t<x>3</x></a><b><y>4</y><y>5</y></b></r>"));
  const std::pair<const char*, const char*> reads[] = {
      {"r/@1/@2", "2"}, {"r/@1/@3", "3"}, {"r/@1/@1", "1"}, {"r/@2/@2", "5"}, {"r/@1/@3", "3"},
      {"r/@1/@4", ""},  {"r/@1/@2", "2"}, {"r/@2/@1", "4"}, {"r/@1/@0", ""},  {"r/@3/@1", ""},
  };
  for (const auto& [path, text] : reads) EXPECT_EQ(document.nodeText(path), text) << path;
  ASSERT_TRUE(document.loadBytes("<r><a><x>9</x></a></r>"));
  EXPECT_EQ(document.nodeText("r/@1/@1"), "9");
  EXPECT_EQ(document.nodeText("r/@1/@2"), "");
}

TEST(XmlDocumentPositions, WalksALongListInOrder) {
  std::string xml = "<root><device><serviceList>";
  const int services = 100000;
  for (int i = 1; i <= services; ++i) xml += "<service><id>" + std::to_string(i) + "</id></service>";
  xml += "</serviceList></device></root>";
  XmlDocument document;
  ASSERT_TRUE(document.loadBytes(xml));
  ASSERT_EQ(document.childCount("root/device/serviceList"), services);
  int matching = 0;
  for (int i = 1; i <= services; ++i) {
    std::string service = "root/device/serviceList/@" + std::to_string(i);
    matching += document.nodeText(service + "/id") == std::to_string(i);
  }
  EXPECT_EQ(matching, services);
}

}  // namespace
}  // namespace tavrin
