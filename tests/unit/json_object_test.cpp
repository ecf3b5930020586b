#include "json/json_object.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "json/json_support_script.h"
#include "json/number_text.h"
#include "json/script_engine.h"
#include "platform/key_value_list.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A device record as the device-list builder makes it, with three services.
KeyValueMap deviceRecord(const std::string& name) {
  KeyValueList services;
  for (const char* kind : {"AVTransport", "ConnectionManager", "RenderingControl"}) {
    services.appendMap(KeyValueMap::createMapFromPairs({
        {"serviceId", std::string("urn:upnp-org:serviceId:") + kind},
        {"SCPDURL", std::string("/") + kind + ".xml"},
        {"serviceType", std::string("urn:schemas-upnp-org:service:") + kind + ":1"},
        {"controlURL", std::string("/") + kind + "/control"},
    }));
  }
  return KeyValueMap::createMapFromPairs({
      {"uuid", "uuid:5f9ec1b3-ed59-79bb-4530-745b8a42b1f2"},
      {"name", name},
      {"url", "http://192.168.1.20:49152"},
      {"service", services},
  });
}

TEST(NumberTextTest, WholeNumbersPlainOthersShortest) {
  struct Case {
    double number;
    const char* text;
  } cases[] = {
      {0, "0"},          {-0.0, "0"},         {42, "42"},           {-7, "-7"},
      {1e6, "1000000"},  {9007199254740993.0, "9007199254740992"},  {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"}, {1.5e-7, "1.5e-07"},     {1e21, "1e+21"},
      {NAN, "NaN"},      {INFINITY, "Infinity"}, {-INFINITY, "-Infinity"},
  };
  for (const Case& c : cases) EXPECT_EQ(numberText(c.number), c.text) << c.text;
}

TEST(ScriptEngineTest, CompletionValuesConvertToTextNumberAndBoolean) {
  ScriptEngine engine;
  ASSERT_TRUE(engine.usable());
  struct Case {
    const char* script;
    const char* text;
    double number;
    bool boolean;
  } cases[] = {
      {"1+1", "2", 2, true},
      {"'a'+'b'", "ab", 0, true},
      {"'12'", "12", 12, true},
      {"0.1*3", "0.30000000000000004", 0.30000000000000004, true},
      {"true", "true", 1, true},
      {"null", "", 0, false},
      {"undefined", "", 0, false},
      {"[1,'x']", "1,x", 0, true},
      {"var a=5; a*2", "10", 10, true},
      {"syntax error(", "", 0, false},
      {"throw new Error('x')", "", 0, false},
      {"no.such.member", "", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(engine.evaluateText(c.script), c.text) << c.script;
    EXPECT_EQ(engine.evaluateNumber(c.script), c.number) << c.script;
    EXPECT_EQ(engine.evaluateBoolean(c.script), c.boolean) << c.script;
  }
  EXPECT_TRUE(engine.addCode("var g = 'global';"));
  EXPECT_EQ(engine.evaluateText("g"), "global");
  EXPECT_FALSE(engine.addCode("var = ;"));
}

TEST(ScriptEngineTest, GbkTextsAreCharactersInsideTheEngine) {
  ScriptEngine engine;
  const std::string room = utf8ToGbk("客厅电视");
  EXPECT_EQ(engine.evaluateText("'" + room + "'"), room);
  EXPECT_EQ(engine.evaluateNumber("'" + room + "'.length"), 4);
  EXPECT_EQ(engine.evaluateText("'\\u5BA2'"), utf8ToGbk("客"));
}

TEST(ScriptEngineTest, RunawayScriptStopsAtTheTimeLimitAndTheEngineStaysUsable) {
  ScriptEngine engine(ScriptEngine::kDefaultMemoryLimit, milliseconds(100));
  for (const char* script : {"while(true){}", "for(;;){try{while(true){}}catch(e){}}"}) {
    auto start = steady_clock::now();
    EXPECT_FALSE(engine.evaluate(script)) << script;
    EXPECT_LT(steady_clock::now() - start, milliseconds(3000)) << script;
  }
  EXPECT_TRUE(engine.usable());
  EXPECT_EQ(engine.evaluateText("1+1"), "2");
}

TEST(ScriptEngineTest, HeapStaysWithinItsByteLimit) {
  // An 8 MiB string (and its copies) does not fit into 4 MiB but does into 64.
  const std::string doubling = "var s='x'; for (var i = 0; i < 23; i++) s = s + s; s.length";
  ScriptEngine small(size_t{4} << 20);
  EXPECT_FALSE(small.evaluate(doubling));
  EXPECT_LE(small.memoryInUse(), size_t{4} << 20);
  EXPECT_TRUE(small.usable());
  EXPECT_EQ(small.evaluateText("'still' + ' here'"), "still here");

  ScriptEngine large(size_t{64} << 20);
  EXPECT_EQ(large.evaluateNumber(doubling), 8388608);
}

// The support script's own JSON pieces, used where an engine has none, must
// agree with the engine's native JSON.
TEST(ScriptEngineTest, SupportScriptFillsInMissingJsonPieces) {
  ScriptEngine native;
  ScriptEngine filled;
  ASSERT_TRUE(native.addCode(jsonSupportScript()));
  ASSERT_TRUE(filled.addCode("delete JSON; delete Date.prototype.toJSON;"));
  ASSERT_EQ(filled.evaluateText("typeof JSON"), "undefined");
  ASSERT_TRUE(filled.addCode(jsonSupportScript()));

  for (const char* script : {
           "JSON.stringify({a:[1,'x\"y\\\\z',null,true],b:{c:'\\n\\t\\u0001'},d:undefined})",
           "JSON.stringify([1,[2,[3]],{}], null, 2)",
           "JSON.stringify({a:1,b:2,c:{a:3}}, ['a','c'])",
           "JSON.stringify({a:1,b:'x'}, function(k,v){return typeof v==='number'?v*10:v})",
           "JSON.stringify([NaN, Infinity, function(){}])",
           "JSON.stringify(JSON.parse('{\"a\":[1,2,{\"b\":\"\\\\u5ba2\"}],\"c\":-1.5e3}'))",
           "JSON.stringify(JSON.parse('[1,2,3]', function(k,v){return typeof v==='number'?v+1:v}))",
           "({a:[1]}).toJSONString()",
           "JSON.stringify('{\"x\":2}'.parseJSON())",
       }) {
    EXPECT_EQ(filled.evaluateText(script), native.evaluateText(script)) << script;
    EXPECT_NE(filled.evaluateText(script), "") << script;
  }
  EXPECT_EQ(filled.evaluateText("try { JSON.parse('alert(1)') } catch (e) { e.name + ':' + e.message }"),
            "SyntaxError:JSON.parse");
  // Dates to the second, in UTC.
  EXPECT_EQ(filled.evaluateText("JSON.stringify({when:new Date(Date.UTC(2024,0,2,3,4,5,678))})"),
            R"({"when":"2024-01-02T03:04:05Z"})");
  EXPECT_EQ(filled.evaluateText("new Date(NaN).toJSON()"), "");
  EXPECT_EQ(filled.evaluateText("JSON.stringify(new String('s'))"), R"("s")");
  EXPECT_EQ(filled.evaluateText("get__count({a:1,b:2,c:3})"), "3");
  // The two prototype members are enumerable in both engines.
  for (ScriptEngine* engine : {&native, &filled}) {
    EXPECT_EQ(engine->evaluateText("var n=''; for (var k in {}) n += k + ','; n"), "toJSONString,parseJSON,");
  }
}

TEST(JsonObjectTest, NewObjectHoldsAnEmptyObject) {
  JsonObject json;
  EXPECT_EQ(json.toJson(), "{}");
  EXPECT_EQ(json.count(), 0);
  EXPECT_EQ(json.typeOf(), JsonValueType::Object);
}

TEST(JsonObjectTest, ReadsNameAndUrlOfADeviceRecord) {
  const std::string name = utf8ToGbk("客厅电视 (Living room)");
  JsonObject json;
  ASSERT_TRUE(json.parse(deviceRecord(name).toJson()));
  EXPECT_EQ(json.getText("name"), name);
  EXPECT_EQ(json.getText("url"), "http://192.168.1.20:49152");
  EXPECT_EQ(json.count("service"), 3);
  EXPECT_EQ(json.getText("service[2].serviceType"), "urn:schemas-upnp-org:service:RenderingControl:1");
  EXPECT_EQ(json.typeOf("service"), JsonValueType::Array);
  std::vector<std::string> names;
  EXPECT_EQ(json.memberNames(names), 4);
  EXPECT_EQ(names, (std::vector<std::string>{"uuid", "name", "url", "service"}));
}

TEST(JsonObjectTest, CurrentUriOfAnActionResult) {
  struct Case {
    const char* json;
    const char* uri;
  } cases[] = {
      {R"({"check":true,"data":{"CurrentURI":"http://x/a.m3u8?a=1&b=2"}})", "http://x/a.m3u8?a=1&b=2"},
      {R"({"check":true,"data":{"CurrentURI":""}})", ""},
      {R"({"check":false,"data":{"faultcode":"s:Client"}})", ""},
      {R"({"check":false})", ""},
      {R"({"check":true,"data":{"CurrentURI":null}})", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    JsonObject json;
    json.parse(c.json);
    EXPECT_EQ(json.getText("data.CurrentURI"), c.uri) << c.json;
  }
}

// Texts that the key-value map writes into JSON come back byte for byte,
// with non-ASCII characters both raw and as \u escapes.
TEST(JsonObjectTest, HostileMemberTextsComeBackExactly) {
  const std::string values[] = {
      "it's \"quoted\"",
      "C:\\dir\\file\\",
      "</script><script>alert(1)</script>",
      "line\nbreak\rtab\tend",
      "'+(da=null)+'",
      "\\u0041 is not an escape here",
      utf8ToGbk("乗俓僜刓匼哱嘰"),  // GBK second bytes are 0x5C, a backslash
      utf8ToGbk("客厅电视"),
      utf8ToGbk("行\u2028分\u2029隔"),  // GBK has no line separators: "?" stands in
  };
  for (const std::string& value : values) {
    for (bool escapeNonAscii : {false, true}) {
      KeyValueMap record = deviceRecord(value);
      JsonObject json;
      ASSERT_TRUE(json.parse(record.toJson(false, escapeNonAscii))) << value;
      EXPECT_EQ(json.getText("name"), value);
      EXPECT_EQ(json.getText("url"), "http://192.168.1.20:49152");
    }
  }
  JsonObject separators;
  ASSERT_TRUE(separators.parse(R"({"name":"a\u2028b\u2029c"})"));
  EXPECT_EQ(separators.getText("name"), "a?b?c");
}

// The url of a record is cut from an SSDP location as it came, not
// converted: a stray GBK lead byte before a quote would pair with the
// quote's escaping backslash, end the string, and run the rest as script.
TEST(JsonObjectTest, AStrayLeadByteInARecordCannotEndItsText) {
  KeyValueMap record = deviceRecord("TV");
  record.setText("url", "http://a\xD1\",name:'injected'})//");
  JsonObject json;
  ASSERT_TRUE(json.parse(record.toJson()));
  EXPECT_EQ(json.getText("name"), "TV");
  EXPECT_EQ(json.getText("url"), "http://a?\",name:'injected'})//");
  EXPECT_EQ(json.count(), 4);
}

TEST(JsonObjectTest, ParseResults) {
  JsonObject json;
  EXPECT_FALSE(json.parse(""));
  EXPECT_EQ(json.getText("url"), "");
  EXPECT_EQ(json.toJson(), "");
  EXPECT_EQ(json.count(), 0);

  EXPECT_FALSE(json.parse(R"({"url": "http://x/", )"));
  EXPECT_EQ(json.toJson(), "null");
  EXPECT_EQ(json.getText("url"), "");

  // A quoted string is evaluated a second time, as code.
  EXPECT_TRUE(json.parse(R"J("[1, 2].concat([3])")J"));
  EXPECT_EQ(json.toJson(), "[1,2,3]");
  EXPECT_FALSE(json.parse(R"("this is no script")"));
  EXPECT_EQ(json.toJson(), "null");

  EXPECT_TRUE(json.parse("[7, 8.5]"));
  EXPECT_EQ(json.getText("[0]"), "7");
  EXPECT_EQ(json.getText("[1]"), "8.5");
  EXPECT_EQ(json.getText(""), "");

  EXPECT_FALSE(json.parse("null"));
  EXPECT_TRUE(json.parse("0"));
  EXPECT_TRUE(json.parse("false"));
}

TEST(JsonObjectTest, GetTextOfEachKindOfMember) {
  JsonObject json;
  ASSERT_TRUE(json.parse(R"({"s":"text","i":42,"big":12345678901,"f":0.25,"neg":-3,"t":true,)"
                         R"("n":null,"o":{"a":1},"l":[1,"x"]})"));
  struct Case {
    const char* path;
    const char* text;
    const char* asJson;
  } cases[] = {
      {"s", "text", R"("text")"}, {"i", "42", "42"},          {"big", "12345678901", "12345678901"},
      {"f", "0.25", "0.25"},      {"neg", "-3", "-3"},         {"t", "true", "true"},
      {"n", "", "null"},          {"o", "[object Object]", R"({"a":1})"},
      {"l", "1,x", R"([1,"x"])"}, {"absent", "", ""},          {"o.a", "1", "1"},
      {"l[1]", "x", R"("x")"},    {"absent.deeper", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(json.getText(c.path), c.text) << c.path;
    EXPECT_EQ(json.getText(c.path, true), c.asJson) << c.path;
  }
}

TEST(JsonObjectTest, TypeOfEachKindAndNeverThree) {
  JsonObject json;
  ASSERT_TRUE(json.parse(R"({"s":"","i":0,"t":false,"n":null,"o":{},"l":[]})"));
  json.setMemberExpression("f", "'(function(){})'");
  struct Case {
    const char* path;
    JsonValueType type;
  } cases[] = {
      {"s", JsonValueType::String}, {"i", JsonValueType::Number},   {"t", JsonValueType::Boolean},
      {"n", JsonValueType::Absent}, {"absent", JsonValueType::Absent}, {"o", JsonValueType::Object},
      {"l", JsonValueType::Array},  {"f", JsonValueType::Other},    {"", JsonValueType::Object},
      {"[0]", JsonValueType::Other},  // a bracket path is no dotted path
  };
  for (const Case& c : cases) EXPECT_EQ(json.typeOf(c.path), c.type) << c.path;

  json.reset(JsonValueType::Array);
  EXPECT_EQ(json.typeOf(), JsonValueType::Array);
}

TEST(JsonObjectTest, CountAndMemberNames) {
  JsonObject json;
  ASSERT_TRUE(json.parse(R"({"a":1,"b":{"c":[1,2,3],"d":[]}})"));
  EXPECT_EQ(json.count(), 2);
  EXPECT_EQ(json.count("b"), 2);
  EXPECT_EQ(json.count("b.c"), 3);
  EXPECT_EQ(json.count("b.d"), 0);
  EXPECT_EQ(json.count("missing"), 0);

  std::vector<std::string> names{"stale"};
  EXPECT_EQ(json.memberNames(names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(json.memberNames(names, "b.c"), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(json.memberNames(names, "missing"), 0);
  EXPECT_TRUE(names.empty());

  // Names are GBK, may hold commas' neighbours of any kind, and only the two
  // prototype members themselves are dropped.
  const std::string gbkName = utf8ToGbk("乗名");
  ASSERT_TRUE(json.parse("{\"" + gbkName + "\":1,\"xparseJSON\":2,\"\":3}"));
  EXPECT_EQ(json.memberNames(names), 3);
  EXPECT_EQ(names, (std::vector<std::string>{gbkName, "xparseJSON", ""}));
  EXPECT_EQ(json.count(), 3);

  ASSERT_TRUE(json.parse("[]"));
  EXPECT_EQ(json.count(), 0);
  EXPECT_EQ(json.memberNames(names), 0);
}

TEST(JsonObjectTest, MemberSetters) {
  JsonObject json;
  json.setMember("a", "text");
  json.setMember("b", "[1, 2]", true);
  json.setMember("c", "", true);
  json.setMemberExpression("d", "'1 + 2'");
  json.setMemberNumber("e", 2.5);
  json.setMemberNumber("f", -1e21);
  EXPECT_EQ(json.toJson(), R"({"a":"text","b":[1,2],"c":{},"d":3,"e":2.5,"f":-1e+21})");
  EXPECT_EQ(json.getMemberNumber("e"), 2.5);
  EXPECT_EQ(json.getMemberNumber("a"), 0);
  EXPECT_EQ(json.getMemberNumber("missing.x"), 0);
  EXPECT_EQ(json.getMemberJson("b"), "[1,2]");
  EXPECT_TRUE(json.hasMember("a"));
  EXPECT_FALSE(json.hasMember("missing"));

  // The value is inserted verbatim: a single quote ends the text early and
  // the statement fails, leaving the member unset.
  json.setMember("g", "it's");
  EXPECT_FALSE(json.hasMember("g"));

  json.setMember("c", "null", true);
  EXPECT_FALSE(json.hasMember("c"));
  json.clear();
  EXPECT_EQ(json.toJson(), "{}");
}

TEST(JsonObjectTest, ArrayOperations) {
  JsonObject json;
  json.append("x");
  json.append("2", "", true);
  EXPECT_EQ(json.toJson(), R"(["x",2])");
  json.setElement(0, "{\"k\":1}", true);
  json.setElement(2, "z");
  EXPECT_EQ(json.toJson(), R"([{"k":1},2,"z"])");
  EXPECT_EQ(json.getElementText(2), "z");
  EXPECT_EQ(json.getElementText(1), "2");
  EXPECT_EQ(json.getElementText(0, "", true), R"({"k":1})");
  json.removeElement(1);
  EXPECT_EQ(json.toJson(), R"([{"k":1},"z"])");

  // append makes the member an array when it is none.
  json.reset(JsonValueType::Object);
  json.setMember("list", "not an array");
  json.append("a", "list");
  json.append("b", "list");
  EXPECT_EQ(json.getText("list", true), R"(["a","b"])");
  EXPECT_EQ(json.getElementText(1, "list"), "b");

  json.reset(JsonValueType::Array);
  EXPECT_EQ(json.toJson(), "[]");
  EXPECT_EQ(json.count(), 0);
  json.reset(static_cast<JsonValueType>(3));
  EXPECT_EQ(json.toJson(), "[]");
  json.setValue("plain");
  EXPECT_EQ(json.toJson(), R"("plain")");
  json.setValue("{\"a\":[]}", true);
  EXPECT_EQ(json.toJson(), R"({"a":[]})");
}

TEST(JsonObjectTest, RemoveByPath) {
  JsonObject json;
  ASSERT_TRUE(json.parse(R"({"a":[1,2,3],"b":{"c":[4,5]},"m":[[1,2],[3,4]],"s":"abc"})"));
  json.removeByPath("a[1]");
  EXPECT_EQ(json.getText("a", true), "[1,3]");
  json.removeByPath("b.c[0]");
  EXPECT_EQ(json.getText("b", true), R"({"c":[5]})");
  json.removeByPath("m[0][1]");  // only the first pair counts
  EXPECT_EQ(json.getText("m", true), "[[3,4]]");

  const std::string before = json.toJson();
  for (const char* path : {"a", "[0]", "a[x]", "a[]", "s[0]", "missing[0]"}) {
    json.removeByPath(path);
    EXPECT_EQ(json.toJson(), before) << path;
  }
}

TEST(JsonObjectTest, GetObjectIsAnIndependentCopy) {
  JsonObject json;
  ASSERT_TRUE(json.parse(R"({"o":{"a":[1,2]},"l":[{"k":"v"},"ran=1"],"s":"ran=1"})"));
  JsonObject member = json.getObject("o");
  EXPECT_EQ(member.toJson(), R"({"a":[1,2]})");
  member.setMember("b", "new");
  EXPECT_EQ(json.getText("o", true), R"({"a":[1,2]})");

  EXPECT_EQ(json.getElementObject(0, "l").getText("k"), "v");
  EXPECT_EQ(json.getObject("missing").toJson(), "");
  // A string member is copied as a string, not run as code.
  EXPECT_EQ(json.getObject("s").toJson(), R"("ran=1")");
  EXPECT_EQ(json.getElementObject(1, "l").typeOf(), JsonValueType::String);
}

TEST(JsonObjectTest, CopiesShareTheEngineUntilOneParses) {
  auto original = std::make_unique<JsonObject>();
  ASSERT_TRUE(original->parse(R"({"a":1})"));
  JsonObject copy(*original);
  copy.setMember("b", "two");
  EXPECT_EQ(original->toJson(), R"({"a":1,"b":"two"})");
  JsonObject assigned;
  assigned = *original;
  original.reset();
  EXPECT_EQ(assigned.toJson(), R"({"a":1,"b":"two"})");

  ASSERT_TRUE(copy.parse("[1]"));
  EXPECT_EQ(copy.toJson(), "[1]");
  EXPECT_EQ(assigned.toJson(), R"({"a":1,"b":"two"})");
}

// Texts fed to parse are script source: their run is bounded in time and
// memory, and malformed or deeply nested ones fail cleanly.
TEST(JsonObjectTest, HostileTextsAreBounded) {
  JsonObject json;
  // An endless loop ends at the time limit, a doubling string at the memory
  // cap; either way parse fails and returns (a hang would meet the test's
  // time-out).
  EXPECT_FALSE(json.parse(R"("while(true){}")"));
  EXPECT_FALSE(json.parse(R"("var s='x'; for(;;) s = s + s")"));
  EXPECT_FALSE(json.parse(R"J("(function f() { return f() + 1; })()")J"));
  EXPECT_FALSE(json.parse(std::string(100000, '[') + std::string(100000, ']')));
  EXPECT_FALSE(json.parse(std::string(100000, '{')));

  ASSERT_TRUE(json.parse(R"({"url":"http://x/"})"));
  EXPECT_EQ(json.getText("url"), "http://x/");
}

// The SSDP receive thread and the GUI thread each make their own objects.
TEST(JsonObjectTest, ObjectsOnSeparateThreadsAreIndependent) {
  auto work = [](std::string name, int& matches) {
    for (int i = 0; i < 50; ++i) {
      JsonObject json;
      std::string expected = name + std::to_string(i);
      if (json.parse(deviceRecord(expected).toJson()) && json.getText("name") == expected) ++matches;
    }
  };
  int first = 0;
  int second = 0;
  std::thread a(work, utf8ToGbk("客厅"), std::ref(first));
  std::thread b(work, utf8ToGbk("卧室"), std::ref(second));
  a.join();
  b.join();
  EXPECT_EQ(first, 50);
  EXPECT_EQ(second, 50);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

// The engine of a new object is made on first use; a copy made before that
// still shares it.
TEST(JsonObjectLazyEngine, CopiesOfAnUnusedObjectShareOneValue) {
  JsonObject original;
  JsonObject copy(original);
  copy.setMember("x", "1");
  EXPECT_EQ(original.getText("x"), "1");
  JsonObject assigned;
  assigned = original;
  assigned.setMember("y", "2");
  EXPECT_EQ(original.toJson(), R"({"x":"1","y":"2"})");
  EXPECT_EQ(JsonObject().toJson(), "{}");
}

}  // namespace
}  // namespace tavrin
