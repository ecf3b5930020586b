// Builds the JSON texts the program itself hands to the JSON object (a
// device record as deviceRecordJson writes it, an ActionResult as
// parseSoapResponse writes it) from hostile values: GBK characters (second
// bytes that look like "\" or quotes among them), quotes, backslashes,
// control characters and zero bytes. Parses each with JsonObject::parse and
// checks that getText returns every value that was put in (up to a zero
// byte, where the program's texts end), with GBK written raw or as \u
// escapes, compact or pretty.
//
// Input: [uuid piece][name piece][url piece][service type piece]
//        [control URL piece][URI bytes...][style byte]
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "json/json_object.h"
#include "platform/key_value_list.h"
#include "platform/key_value_map.h"

namespace tavrin {
namespace {

using fuzz::require;

// What the engine gives back: texts end at their first zero byte.
std::string expected(const std::string& value) { return value.substr(0, value.find('\0')); }

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const uint8_t style = input.ConsumeIntegral<uint8_t>();
  const std::string uuid = fuzz::gbkText(input.ConsumeRandomLengthString(256));
  const std::string name = fuzz::gbkText(input.ConsumeRandomLengthString(1024));
  const std::string url = fuzz::gbkText(input.ConsumeRandomLengthString(1024));
  const std::string serviceType = fuzz::gbkText(input.ConsumeRandomLengthString(256));
  const std::string controlUrl = fuzz::gbkText(input.ConsumeRandomLengthString(1024));
  const std::string uri = fuzz::gbkText(input.ConsumeRemainingBytesAsString());
  const bool pretty = (style & 1) != 0;
  const bool escapeNonAscii = (style & 2) != 0;

  KeyValueList services;
  services.appendMap(KeyValueMap::createMapFromPairs({{"serviceId", "urn:upnp-org:serviceId:AVTransport"},
                                                      {"SCPDURL", "/AVTransport.xml"},
                                                      {"serviceType", serviceType},
                                                      {"controlURL", controlUrl}}));
  const KeyValueMap record =
      KeyValueMap::createMapFromPairs({{"uuid", uuid}, {"name", name}, {"url", url}, {"service", services}});
  JsonObject device;
  require(device.parse(record.toJson(pretty, escapeNonAscii)));
  require(device.getText("uuid") == expected(uuid));
  require(device.getText("name") == expected(name));
  require(device.getText("url") == expected(url));
  require(device.getText("service[0].serviceType") == expected(serviceType));
  require(device.getText("service[0].controlURL") == expected(controlUrl));
  require(device.count("service") == 1);

  const KeyValueMap result = KeyValueMap::createMapFromPairs(
      {{"check", (style & 4) != 0}, {"data", KeyValueMap::createMapFromPairs({{"CurrentURI", uri}})}});
  JsonObject answer;
  require(answer.parse(result.toJson(pretty, escapeNonAscii)));
  require(answer.getText("data.CurrentURI") == expected(uri));
  require(answer.getText("check") == ((style & 4) != 0 ? "true" : "false"));
  return 0;
}
