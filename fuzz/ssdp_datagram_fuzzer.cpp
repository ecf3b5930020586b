// Feeds one SSDP datagram through the receive loop's path without the
// network: HeaderMap::parse and get, then handleSsdpAnswer with the device
// description answered from the rest of the input. Checks that header
// values are trimmed pieces of the datagram whatever the case of the name,
// that the description is fetched once from the datagram's location,
// and that the device list grows by at most one whole record (uuid, name,
// url, service; a new id taken from the USN; at most kMaxServicesPerDevice services
// with their four members) whose JSON reads back the same.
//
// Input: [datagram piece][description bytes...][flag byte], the flag saying
// whether the list already holds a device with the id "known".
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "app/app_state.h"
#include "httpclient/http_request.h"
#include "platform/key_value_map.h"
#include "ssdp/device_list_builder.h"
#include "ssdp/header_map.h"

namespace tavrin {
namespace {

// The largest UDP payload of an IPv4 datagram, as the receive loop reads it.
constexpr size_t kMaxDatagram = 65507;

using fuzz::require;

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void checkHeaders(const std::string& datagram) {
  HeaderMap headers;
  headers.parse(datagram);
  for (const char* name : {"LOCATION", "usn", "St", "NT", "NTS", "server", "//usn", ""}) {
    const std::string value = headers.get(name);
    require(value == headers.get(lowerAscii(name)));
    require(value.empty() || (value[0] != ' ' && datagram.find(value) != std::string::npos));
  }
  require(headers.get("//usn").empty());
}

AppState& sharedState() {
  static AppState* state = [] {
    auto* made = new AppState;
    initAppState(*made);
    return made;
  }();
  return *state;
}

void checkRecord(const KeyValueMap& record, bool knownListed, const std::string& usn) {
  require(record.getKeys() == (std::vector<std::string>{"uuid", "name", "url", "service"}));
  const std::string uuid = record.getText("uuid");
  require(!uuid.empty() && usn.find(":" + uuid) != std::string::npos);
  require(!(knownListed && uuid == "known"));
  require(!record.getText("url").empty());
  require(record.kind("service") == KeyValue::Kind::List);
  const int services = record.count("service");
  require(services <= kMaxServicesPerDevice);
  for (int i = 1; i <= services; ++i) {
    const KeyValueMap service = record.getMap("//service[" + std::to_string(i) + "]");
    require(service.getKeys() == (std::vector<std::string>{"serviceId", "SCPDURL", "serviceType", "controlURL"}));
  }
  KeyValueMap copy;
  require(copy.fromJson(record.toJson()));
  require(copy.toJson() == record.toJson());
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const bool knownListed = input.ConsumeBool();
  const std::string datagram = input.ConsumeRandomLengthString(kMaxDatagram);
  const std::string description = input.ConsumeRemainingBytesAsString();

  checkHeaders(datagram);

  AppState& state = sharedState();
  state.deviceList->clear();
  if (knownListed) {
    state.deviceList->appendMap(KeyValueMap::createMapFromPairs(
        {{"uuid", "known"}, {"name", "Known"}, {"url", "http://10.0.0.9:80"}, {"service", KeyValueList()}}));
  }
  std::vector<int> found;
  state.deviceFoundCallback = [&found](int index) { found.push_back(index); };
  int fetches = 0;
  std::string fetchedFrom;
  const int before = state.deviceList->count();
  handleSsdpAnswer(state, datagram, [&](const std::string& location, HttpExchange&) {
    ++fetches;
    fetchedFrom = location;
    return description;
  });
  const int after = state.deviceList->count();

  HeaderMap headers;
  headers.parse(datagram);
  const std::string location = headers.get("location");
  require(fetches == (location.empty() ? 0 : 1));
  require(fetchedFrom == location);
  require(after == before || after == before + 1);
  if (after == before) {
    require(found.empty());
    return 0;
  }
  require(found == std::vector<int>{after});
  KeyValueMap record;
  require(state.deviceList->getMap(after, record));
  checkRecord(record, knownListed, headers.get("usn"));
  return 0;
}
