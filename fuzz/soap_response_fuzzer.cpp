// Feeds a renderer's answer body and an action name to parseSoapResponse,
// then reads the ActionResult as the program does (the JSON object's
// "data.CurrentURI"). Checks: the result is one JSON object with a boolean
// "check" and a "data" object of texts, no more members than the response
// element has children; "check" is false without a response element; the
// JSON object reads each data text back unchanged.
//
// Input: [action name piece][body bytes...][flags byte]
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "control/soap_action.h"
#include "json/json_object.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"
#include "platform/xml_document.h"

namespace tavrin {
namespace {

using fuzz::require;

bool isIdentifier(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const bool readAsProgram = input.ConsumeBool();
  const std::string action = input.ConsumeRandomLengthString(128);
  const std::string body = input.ConsumeRemainingBytesAsString();

  const std::string result = parseSoapResponse(body, action);
  KeyValueMap parsed;
  require(parsed.fromJson(result));
  require(parsed.getKeys() == (std::vector<std::string>{"check", "data"}));
  require(parsed.kind("check") == KeyValue::Kind::Boolean);
  require(parsed.kind("data") == KeyValue::Kind::Map);

  XmlDocument answer;
  answer.loadBytes(utf8ToGbk(body));
  const int children = answer.childCount("s:Envelope/s:Body/@1");
  require(parsed.count("data") <= children);
  if (answer.nodeName("s:Envelope/s:Body/@1").empty()) require(!parsed.getBool("check"));
  const KeyValueMap values = parsed.getMap("data");
  for (const std::string& name : values.getKeys()) {
    require(values.kind(name) == KeyValue::Kind::Text);
  }

  // The JSON object costs an engine; a part of the inputs take that road.
  if (!readAsProgram) return 0;
  JsonObject json;
  require(json.parse(result));
  require(json.getText("data.CurrentURI") == values.getText("CurrentURI"));
  for (const std::string& name : values.getKeys()) {
    // "__proto__" names the prototype in a script, not a member.
    if (isIdentifier(name) && name != "__proto__") require(json.getText("data." + name) == values.getText(name));
  }
  return 0;
}
