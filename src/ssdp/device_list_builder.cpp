#include "ssdp/device_list_builder.h"

#include <algorithm>

#include "app/app_state.h"
#include "httpclient/http_request.h"
#include "platform/text_between.h"
#include "platform/text_encoding.h"
#include "platform/xml_document.h"
#include "ssdp/header_map.h"

namespace tavrin {
namespace {

// The device's id: the USN's text between its first and second ":".
std::string deviceId(const HeaderMap& headers) { return textBetween(headers.get("usn"), ":", ":"); }

bool alreadyListed(const KeyValueList& devices, const std::string& id) {
  for (int i = 1; i <= devices.count(); ++i) {
    if (devices.getText(i, "uuid") == id) return true;
  }
  return false;
}

KeyValueList serviceEntries(const XmlDocument& description) {
  KeyValueList services;
  // Each "@j" step walks the list from its start, so reading n services costs
  // n squared: 100,000 of them would hold the list's lock for minutes.
  int count = std::min(description.childCount("root/device/serviceList"), kMaxServicesPerDevice);
  for (int j = 1; j <= count; ++j) {
    std::string service = "root/device/serviceList/@" + std::to_string(j);
    services.appendMap(KeyValueMap::createMapFromPairs({
        {"serviceId", description.nodeText(service + "/serviceId")},
        {"SCPDURL", description.nodeText(service + "/SCPDURL")},
        {"serviceType", description.nodeText(service + "/serviceType")},
        {"controlURL", description.nodeText(service + "/controlURL")},
    }));
  }
  return services;
}

// Reads the datagram and, for a new DLNA device, appends its record; returns
// the new record's position, or 0 when nothing was added. Every datagram
// with a location costs one fetch, also for a device already listed, unless
// the location is remembered as failing.
int addDevice(AppState& state, const std::string& datagram, const DescriptionFetch& fetchDescription) {
  WriteGuard guard(*state.deviceListLock);
  HeaderMap headers;
  headers.parse(datagram);
  std::string location = headers.get("location");
  if (location.empty()) return 0;
  if (state.descriptionFailures.skips(location, FetchFailureMemory::Clock::now())) return 0;
  HttpExchange fetch;
  fetch.cancel = &state.stopping;
  fetch.limits = kDescriptionTimeLimits;
  XmlDocument description;
  description.loadBytes(utf8ToGbk(fetchDescription(location, fetch)));
  state.descriptionFailures.record(location, fetch.failure, FetchFailureMemory::Clock::now());
  std::string id = deviceId(headers);
  if (id.empty() || alreadyListed(*state.deviceList, id)) return 0;
  if (description.nodeText("root/device/dlna:X_DLNADOC").empty()) return 0;

  KeyValueList services = serviceEntries(description);
  std::string url = description.nodeText("root/URLBase");
  if (url.empty()) url = baseUrlFromLocation(location);
  state.deviceList->appendMap(KeyValueMap::createMapFromPairs({
      {"uuid", id},
      {"name", description.nodeText("root/device/friendlyName")},
      {"url", url},
      {"service", services},
  }));
  return state.deviceList->count();
}

}  // namespace

std::string baseUrlFromLocation(const std::string& location) {
  size_t slash = location.find('/', 9);
  return slash == std::string::npos ? location : location.substr(0, slash);
}

void handleSsdpAnswer(AppState& state, const std::string& datagram) {
  handleSsdpAnswer(state, datagram, [](const std::string& location, HttpExchange& exchange) {
    return httpRequest(location, exchange);
  });
}

void handleSsdpAnswer(AppState& state, const std::string& datagram, const DescriptionFetch& fetch) {
  int index = addDevice(state, datagram, fetch);
  if (index > 0 && state.deviceFoundCallback) state.deviceFoundCallback(index);
}

}  // namespace tavrin
