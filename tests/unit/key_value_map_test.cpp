#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/key_value_list.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using Kind = KeyValue::Kind;

// GBK characters whose second byte reads as ASCII "[" and "]": a byte-wise
// path parser would take them for a position.
const std::string kCharEndingInOpenBracket = "\x81\x5B";
const std::string kCharEndingInCloseBracket = "\x81\x5D";
// GBK for the character U+4E2D.
const std::string kGbkZhong = "\xD6\xD0";

KeyValueMap serviceEntry(const std::string& type, const std::string& control) {
  return KeyValueMap::createMapFromPairs(
      {{"serviceId", "id:" + type}, {"SCPDURL", "/scpd"}, {"serviceType", type}, {"controlURL", control}});
}

// A device record as the device-list builder makes it.
KeyValueMap deviceRecord() {
  KeyValueList services;
  services.appendMap(serviceEntry("urn:schemas-upnp-org:service:RenderingControl:1", "/rc"));
  services.appendMap(serviceEntry("urn:schemas-upnp-org:service:AVTransport:1", "/avt"));
  return KeyValueMap::createMapFromPairs({{"uuid", "2fac1234"},
                                          {"name", utf8ToGbk("客厅电视")},
                                          {"url", "http://192.168.1.20:49152"},
                                          {"service", services}});
}

TEST(KeyValueMap, StoresEachKindAndReadsItAsText) {
  KeyValueMap map;
  EXPECT_TRUE(map.setText("text", "hello"));
  EXPECT_TRUE(map.setInt("integer", -42));
  EXPECT_TRUE(map.setBool("yes", true));
  EXPECT_TRUE(map.setBool("no", false));
  EXPECT_TRUE(map.setMap("map", KeyValueMap::createMapFromPairs({{"a", 1}})));
  KeyValueList list;
  list.append(KeyValue("x"));
  list.append(KeyValue(2));
  EXPECT_TRUE(map.setList("list", list));

  EXPECT_EQ(map.kind("text"), Kind::Text);
  EXPECT_EQ(map.kind("integer"), Kind::Integer);
  EXPECT_EQ(map.kind("yes"), Kind::Boolean);
  EXPECT_EQ(map.kind("map"), Kind::Map);
  EXPECT_EQ(map.kind("list"), Kind::List);
  EXPECT_EQ(map.kind("missing"), Kind::None);

  EXPECT_EQ(map.getText("text"), "hello");
  EXPECT_EQ(map.getText("integer"), "-42");
  EXPECT_EQ(map.getText("yes"), "true");
  EXPECT_EQ(map.getText("no"), "false");
  EXPECT_EQ(map.getText("map"), "{\"a\":1}");
  EXPECT_EQ(map.getText("list"), "[\"x\",2]");
  EXPECT_EQ(map.getText("missing"), "");

  EXPECT_EQ(map.getInt("integer"), -42);
  EXPECT_EQ(map.getInt("yes"), 1);
  EXPECT_EQ(map.getInt("text"), 0);
  EXPECT_EQ(map.getInt("missing"), 0);
  EXPECT_TRUE(map.getBool("yes"));
  EXPECT_FALSE(map.getBool("no"));
  EXPECT_EQ(map.getMap("map").getInt("a"), 1);
  EXPECT_EQ(map.getMap("text").count(), 0);
  EXPECT_EQ(map.getList("list").count(), 2);
  EXPECT_EQ(map.getList("list").getText(2, ""), "2");
  EXPECT_EQ(map.getList("map").count(), 0);
}

TEST(KeyValueMap, ATextHoldingANumberReadsAsInteger) {
  KeyValueMap map;
  map.setText("port", "16789");
  map.setText("partly", "16789x");
  EXPECT_EQ(map.getInt("port"), 16789);
  EXPECT_EQ(map.getInt("partly"), 0);
}

TEST(KeyValueMap, ReplacingAValueKeepsTheKeyInItsPlace) {
  KeyValueMap map;
  map.setText("b", "1");
  map.setText("a", "2");
  map.setInt("b", 3);
  EXPECT_EQ(map.getKeys(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(map.getText("b"), "3");
  EXPECT_EQ(map.count(), 2);
}

TEST(KeyValueMap, ListsKeysInInsertionOrAscendingOrDescendingByteOrder) {
  KeyValueMap map;
  for (const char* key : {"InstanceID", "CurrentURI", "\xD6\xD0", "Speed", "CurrentURIMetaData"}) {
    map.setText(key, "v");
  }
  EXPECT_EQ(map.getKeys(0), (std::vector<std::string>{"InstanceID", "CurrentURI", "\xD6\xD0", "Speed",
                                                      "CurrentURIMetaData"}));
  EXPECT_EQ(map.getKeys(1), (std::vector<std::string>{"CurrentURI", "CurrentURIMetaData", "InstanceID",
                                                      "Speed", "\xD6\xD0"}));
  EXPECT_EQ(map.getKeys(2), (std::vector<std::string>{"\xD6\xD0", "Speed", "InstanceID",
                                                      "CurrentURIMetaData", "CurrentURI"}));
  map.clear();
  EXPECT_TRUE(map.getKeys().empty());
  EXPECT_EQ(map.count(), 0);
}

TEST(KeyValueMap, CountsPairsItemsAndNothingElse) {
  KeyValueMap record = deviceRecord();
  EXPECT_EQ(record.count(""), 4);
  EXPECT_EQ(record.count("service"), 2);
  EXPECT_EQ(record.count("//service"), 2);
  EXPECT_EQ(record.count("//service[1]"), 4);
  EXPECT_EQ(record.count("name"), 0);
  EXPECT_EQ(record.count("missing"), 0);
  EXPECT_EQ(record.count("//service[3]"), 0);
}

TEST(KeyValueMap, PathsReadNestedMembersAndListItemsFromOne) {
  KeyValueMap record = deviceRecord();
  record.setMap("nested", KeyValueMap::createMapFromPairs(
                              {{"inner", KeyValueMap::createMapFromPairs({{"leaf", "deep"}})}}));
  KeyValueList grid;
  grid.append(KeyValue::listOf({KeyValue("r1c1"), KeyValue("r1c2")}));
  record.setList("grid", grid);
  record.setText(kCharEndingInOpenBracket, "gbk key");
  record.setMap(kCharEndingInCloseBracket, KeyValueMap::createMapFromPairs({{"x", "under gbk"}}));

  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {"//service[1].serviceType", "urn:schemas-upnp-org:service:RenderingControl:1"},
      {"//service[2].controlURL", "/avt"},
      {"//name", utf8ToGbk("客厅电视")},
      {"//nested.inner.leaf", "deep"},
      {"//grid[1][2]", "r1c2"},
      {"//" + kCharEndingInOpenBracket, "gbk key"},
      {"//" + kCharEndingInCloseBracket + ".x", "under gbk"},
      // Paths that cannot be followed.
      {"//service[3].serviceType", ""},
      {"//service[0].serviceType", ""},
      {"//service[abc].serviceType", ""},
      {"//service[-1].serviceType", ""},
      {"//service[].serviceType", ""},
      {"//service[1.serviceType", ""},
      {"//service[1]x.serviceType", ""},
      {"//service[99999999999].serviceType", ""},
      {"//service.serviceType", ""},
      {"//service[1].missing", ""},
      {"//name.x", ""},
      {"//name[1]", ""},
      {"//missing.x", ""},
      {"//grid[1][3]", ""},
      {"//", ""},
      {"//.name", ""},
      {"//name.", ""},
      {"//service[1]..serviceType", ""},
      // Without "//" a key is a key, dots and brackets included.
      {"service[1].serviceType", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(record.getText(c.path), c.expected) << c.path;
}

TEST(KeyValueMap, SettingAlongAPathCreatesMissingMapsOnly) {
  KeyValueMap record = deviceRecord();

  EXPECT_TRUE(record.setText("//service[2].controlURL", "/changed"));
  EXPECT_EQ(record.getText("//service[2].controlURL"), "/changed");
  EXPECT_EQ(record.getKeys(), (std::vector<std::string>{"uuid", "name", "url", "service"}));

  EXPECT_TRUE(record.setText("//extra.deeper.leaf", "made"));
  EXPECT_EQ(record.getText("//extra.deeper.leaf"), "made");
  EXPECT_EQ(record.kind("extra"), Kind::Map);

  EXPECT_TRUE(record.setText("//service[1]", "replaced item"));
  EXPECT_EQ(record.getText("//service[1]"), "replaced item");
  EXPECT_EQ(record.count("service"), 2);

  // Failures change nothing.
  const std::string before = record.toJson();
  const char* refused[] = {
      "//service[3].controlURL",  // no third item to write into
      "//service[0]",
      "//fresh.list[1]",          // a list item cannot be made up
      "//fresh[1].x",
      "//name.x",                 // a text is no map
      "//url[1]",
      "//",
      "//a..b",
      "//service[x]",
  };
  for (const char* path : refused) EXPECT_FALSE(record.setText(path, "v")) << path;
  EXPECT_EQ(record.toJson(), before);
  EXPECT_EQ(record.kind("fresh"), Kind::None);
  EXPECT_FALSE(record.set("uuid", KeyValue()));
  EXPECT_EQ(record.getText("uuid"), "2fac1234");
}

TEST(KeyValueMap, OwnsCopiesOfWhatItHolds) {
  KeyValueMap inner = KeyValueMap::createMapFromPairs({{"a", "1"}});
  KeyValueList list;
  list.appendMap(inner);
  KeyValueMap outer = KeyValueMap::createMapFromPairs({{"inner", inner}, {"list", list}});
  inner.setText("a", "changed");
  list.clear();
  EXPECT_EQ(outer.getText("//inner.a"), "1");
  EXPECT_EQ(outer.getText("//list[1].a"), "1");

  KeyValueMap copy(outer);
  copy.setText("//inner.a", "in copy");
  copy.setText("//list[1].a", "in copy");
  EXPECT_EQ(outer.getText("//inner.a"), "1");
  EXPECT_EQ(outer.getText("//list[1].a"), "1");

  KeyValueMap cloned;
  cloned.setText("old", "gone");
  cloned.clone(outer);
  EXPECT_EQ(cloned.toJson(), outer.toJson());
  cloned.clone(cloned);
  EXPECT_EQ(cloned.toJson(), outer.toJson());

  KeyValueMap assigned;
  assigned = outer;
  outer.clear();
  EXPECT_EQ(assigned.getText("//inner.a"), "1");
}

TEST(KeyValueMap, CreateMapFromPairsKeepsKindsAndOrder) {
  KeyValueMap args = KeyValueMap::createMapFromPairs(
      {{"InstanceID", 0}, {"CurrentURI", "http://a/b?c=1&amp;d=2"}, {"CurrentURIMetaData", ""}});
  EXPECT_EQ(args.toJson(),
            "{\"InstanceID\":0,\"CurrentURI\":\"http://a/b?c=1&amp;d=2\",\"CurrentURIMetaData\":\"\"}");
  KeyValueMap textual = KeyValueMap::createMapFromPairs({{"InstanceID", "0"}});
  EXPECT_EQ(textual.toJson(), "{\"InstanceID\":\"0\"}");
  KeyValueMap repeated = KeyValueMap::createMapFromPairs({{"k", 1}, {"j", 2}, {"k", true}});
  EXPECT_EQ(repeated.toJson(), "{\"k\":true,\"j\":2}");
}

TEST(KeyValueMapJson, WritesADeviceRecordAsOneObject) {
  EXPECT_EQ(deviceRecord().toJson(),
            "{\"uuid\":\"2fac1234\",\"name\":\"" + utf8ToGbk("客厅电视") +
                "\",\"url\":\"http://192.168.1.20:49152\",\"service\":["
                "{\"serviceId\":\"id:urn:schemas-upnp-org:service:RenderingControl:1\","
                "\"SCPDURL\":\"/scpd\",\"serviceType\":\"urn:schemas-upnp-org:service:RenderingControl:1\","
                "\"controlURL\":\"/rc\"},"
                "{\"serviceId\":\"id:urn:schemas-upnp-org:service:AVTransport:1\","
                "\"SCPDURL\":\"/scpd\",\"serviceType\":\"urn:schemas-upnp-org:service:AVTransport:1\","
                "\"controlURL\":\"/avt\"}]}");
  EXPECT_EQ(KeyValueMap().toJson(), "{}");
}

TEST(KeyValueMapJson, EscapesQuotesBackslashesAndControlCharacters) {
  KeyValueMap map;
  map.setText("q\"k", std::string("a\"b\\c/d\n\r\t\b\f\x01\x1F", 14) + std::string(1, '\0') + "e");
  EXPECT_EQ(map.toJson(), "{\"q\\\"k\":\"a\\\"b\\\\c/d\\n\\r\\t\\b\\f\\u0001\\u001F\\u0000e\"}");
  KeyValueMap back;
  ASSERT_TRUE(back.fromJson(map.toJson()));
  EXPECT_EQ(back.getText("q\"k"), map.getText("q\"k"));
}

TEST(KeyValueMapJson, PassesGbkBytesThroughUntouchedBothWays) {
  // Valid GBK, a character whose second byte is a backslash, and stray high
  // bytes that are neither GBK nor UTF-8.
  const std::string text = utf8ToGbk("客厅电视") + "\x95\x5C" + "\x80\xFF" + "\x81";
  KeyValueMap map;
  map.setText(kGbkZhong, text);
  const std::string json = map.toJson();
  // The JSON text is GBK as well: escaping the second byte of 0x95 0x5C
  // would split the character and leave a lone backslash before the quote.
  EXPECT_EQ(json, "{\"" + kGbkZhong + "\":\"" + text + "\"}");
  KeyValueMap back;
  ASSERT_TRUE(back.fromJson(json));
  EXPECT_EQ(back.getText(kGbkZhong), text);
  EXPECT_EQ(back.toJson(), json);
}

// A stray lead byte before a character that is written as an escape would
// take the escape's backslash for its second byte when read back: the
// string would end early (the rest of it read as JSON) or come back mangled.
TEST(KeyValueMapJson, AStrayLeadByteBeforeAnEscapeIsWrittenAsQuestionMark) {
  struct Case {
    std::string text, back;
  } cases[] = {
      {"\xD1\",\"name\":\"evil", "?\",\"name\":\"evil"},
      {"a\xD1\nb", "a?\nb"},
      {std::string("\xFE\0z", 3), std::string("?\0z", 3)},
      {"\xD1\\\"", "\xD1\\\""},    // a character, then a quote
      {"\x95\x5C\"", "\x95\x5C\""},  // the same
      {"\xD1 x", "\xD1 x"},          // a space is written as it is
      {"\x80\"x\xD1", "\x80\"x\xD1"},  // 0x80 begins nothing; a last byte stays
  };
  for (const Case& c : cases) {
    KeyValueMap map;
    map.setText("name", "TV");
    map.setText(c.text, c.text);
    KeyValueMap back;
    ASSERT_TRUE(back.fromJson(map.toJson())) << c.text;
    EXPECT_EQ(back.getKeys(), (std::vector<std::string>{"name", c.back})) << c.text;
    EXPECT_EQ(back.getText(c.back), c.back) << c.text;
    EXPECT_EQ(back.getText("name"), "TV") << c.text;
  }
}

TEST(KeyValueMapJson, ReadsTheSecondByteOfAGbkCharacterAsPartOfIt) {
  KeyValueMap map;
  ASSERT_TRUE(map.fromJson("{\"a\":\"\x95\x5C\",\"b\":\"\x95\x5C\\\\\"}"));
  EXPECT_EQ(map.getText("a"), "\x95\x5C");
  EXPECT_EQ(map.getText("b"), "\x95\x5C\\");
}

TEST(KeyValueMapJson, EscapesNonAsciiAsUnicodeOnRequestAndReadsEscapesAsGbk) {
  KeyValueMap map;
  map.setText("name", kGbkZhong + "x" + "\x80");
  // A byte that begins no character stands as "?" (U+003F).
  EXPECT_EQ(map.toJson(false, true), "{\"name\":\"\\u4E2Dx\\u003F\"}");
  KeyValueMap back;
  ASSERT_TRUE(back.fromJson("{\"name\":\"\\u4e2d\\u0041\\u00e9\\ud83d\\ude00\"}"));
  // U+00E9 is in GBK; the emoji is not.
  EXPECT_EQ(back.getText("name"), kGbkZhong + "A" + utf8ToGbk("é") + "?");
}

TEST(KeyValueMapJson, PrettyAndSortedOutputsRoundTrip) {
  KeyValueMap record = deviceRecord();
  record.setMap("z", KeyValueMap::createMapFromPairs({{"b", 1}, {"a", false}}));
  const std::string pretty = record.toJson(true);
  EXPECT_NE(pretty.find('\n'), std::string::npos);
  KeyValueMap back;
  ASSERT_TRUE(back.fromJson(pretty));
  EXPECT_EQ(back.toJson(), record.toJson());

  KeyValueMap small = KeyValueMap::createMapFromPairs(
      {{"b", 1}, {"a", KeyValueMap::createMapFromPairs({{"y", 1}, {"x", 2}})}});
  EXPECT_EQ(small.toJson(false, false, 1), "{\"a\":{\"x\":2,\"y\":1},\"b\":1}");
  EXPECT_EQ(small.toJson(false, false, 2), "{\"b\":1,\"a\":{\"y\":1,\"x\":2}}");
  EXPECT_EQ(small.toJson(false, false, 0), "{\"b\":1,\"a\":{\"y\":1,\"x\":2}}");
}

TEST(KeyValueMapJson, ReadsEveryKindAndRoundTrips) {
  const std::string json =
      "{\"s\":\"text\",\"i\":-12,\"big\":9223372036854775807,\"t\":true,\"f\":false,"
      "\"m\":{\"n\":{\"deep\":[]}},\"l\":[1,\"two\",{\"three\":3},[4]],\"e\":{},\"//k\":\"literal\"}";
  KeyValueMap map;
  ASSERT_TRUE(map.fromJson(json));
  EXPECT_EQ(map.kind("i"), Kind::Integer);
  EXPECT_EQ(map.getInt("big"), 9223372036854775807LL);
  EXPECT_EQ(map.kind("t"), Kind::Boolean);
  EXPECT_EQ(map.getText("//l[3].three"), "3");
  EXPECT_EQ(map.getText("//l[4][1]"), "4");
  EXPECT_EQ(map.count("//m.n.deep"), 0);
  EXPECT_EQ(map.kind("//m.n.deep"), Kind::List);
  // A JSON member whose name begins with "//" is stored under that name.
  EXPECT_EQ(map.getKeys().back(), "//k");
  EXPECT_EQ(map.toJson(), json);
}

TEST(KeyValueMapJson, KeepsNumbersThatAreNoIntegerAsTextAndNullAsEmptyText) {
  KeyValueMap map;
  ASSERT_TRUE(map.fromJson(
      "{\"f\":1.50,\"e\":1e3,\"huge\":18446744073709551616,\"neg\":-9223372036854775808,\"n\":null}"));
  EXPECT_EQ(map.kind("f"), Kind::Text);
  EXPECT_EQ(map.getText("f"), "1.50");
  EXPECT_EQ(map.getText("e"), "1e3");
  EXPECT_EQ(map.getText("huge"), "18446744073709551616");
  EXPECT_EQ(map.kind("neg"), Kind::Integer);
  EXPECT_EQ(map.getInt("neg"), INT64_MIN);
  EXPECT_EQ(map.kind("n"), Kind::Text);
  EXPECT_EQ(map.getText("n"), "");
}

TEST(KeyValueMapJson, LaterDuplicateMemberWins) {
  KeyValueMap map;
  ASSERT_TRUE(map.fromJson("{\"a\":1,\"b\":2,\"a\":3}"));
  EXPECT_EQ(map.toJson(), "{\"a\":3,\"b\":2}");
}

TEST(KeyValueMapJson, RefusesMalformedJsonAndLeavesTheMapEmpty) {
  const std::string refused[] = {
      "",
      "   ",
      "{",
      "}",
      "{\"a\":}",
      "{\"a\":1,}",
      "{\"a\" 1}",
      "{a:1}",
      "{'a':1}",
      "{\"a\":01}",
      "{\"a\":tru}",
      "{\"a\":\"unterminated}",
      "{\"a\":\"bad \\q escape\"}",
      "{\"a\":\"\\u12\"}",
      "{\"a\":\"\\ud800 lone\"}",
      std::string("{\"a\":\"raw \x01 control\"}"),
      std::string("{\"a\":1}\0{\"b\":2}", 15),
      std::string("{\"a\":\"x\0y\"}", 11),
      "{} {}",
      "{}x",
      "[]",
      "[{\"a\":1}]",
      "\"text\"",
      "42",
      "null",
      "true",
  };
  for (const std::string& json : refused) {
    KeyValueMap map = KeyValueMap::createMapFromPairs({{"stale", "value"}});
    EXPECT_FALSE(map.fromJson(json)) << json;
    EXPECT_EQ(map.count(), 0) << json;
  }
}

TEST(KeyValueMapJson, BoundsNestingDepth) {
  auto nested = [](int depth) {
    std::string json = "{\"a\":";
    for (int i = 1; i < depth; ++i) json += "[";
    json += "1";
    for (int i = 1; i < depth; ++i) json += "]";
    return json + "}";
  };
  KeyValueMap map;
  EXPECT_TRUE(map.fromJson(nested(KeyValueMap::kMaxJsonDepth)));
  EXPECT_EQ(map.toJson(), nested(KeyValueMap::kMaxJsonDepth));
  EXPECT_FALSE(map.fromJson(nested(KeyValueMap::kMaxJsonDepth + 1)));
  EXPECT_FALSE(map.fromJson(nested(200000)));
  EXPECT_FALSE(map.fromJson(std::string(200000, '[')));
  EXPECT_EQ(map.count(), 0);
}

}  // namespace
}  // namespace tavrin
