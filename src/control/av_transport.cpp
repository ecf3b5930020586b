#include "control/av_transport.h"

#include "app/app_state.h"
#include "control/soap_action.h"
#include "json/json_object.h"
#include "platform/key_value_map.h"
#include "platform/xml_escape.h"

namespace tavrin {
namespace {

// The device's record; empty when the index names none.
KeyValueMap readDevice(const AppState& state, int deviceIndex) {
  KeyValueMap device;
  state.deviceList->getMap(deviceIndex, device);
  return device;
}

std::string servicePath(int position, const char* member) {
  return "//service[" + std::to_string(position) + "]." + member;
}

// "urn:schemas-upnp-org:service:AVTransport" of ".../AVTransport:1".
std::string withoutVersion(const std::string& serviceType) {
  return serviceType.substr(0, serviceType.rfind(':'));
}

// Where an action for the service type goes: base URL, control URL, and the
// type the service itself names (it may be another version).
struct ServiceTarget {
  std::string baseUrl;
  std::string controlUrl;
  std::string serviceType;
};

ServiceTarget serviceTarget(const KeyValueMap& device, const std::string& serviceType) {
  int position = findService(device, serviceType);
  std::string ownType = device.getText(servicePath(position, "serviceType"));
  return {device.getText("url"), device.getText(servicePath(position, "controlURL")),
          ownType.empty() ? serviceType : ownType};
}

}  // namespace

int findService(const KeyValueMap& device, const std::string& serviceType) {
  int count = device.count("service");
  for (int i = 1; i <= count; ++i) {
    if (device.getText(servicePath(i, "serviceType")) == serviceType) return i;
  }
  std::string family = withoutVersion(serviceType);
  for (int i = 1; i <= count; ++i) {
    if (withoutVersion(device.getText(servicePath(i, "serviceType"))) == family) return i;
  }
  return count + 1;
}

void pushUrl(AppState& state, const std::string& url, int deviceIndex) {
  ServiceTarget target = serviceTarget(readDevice(state, deviceIndex), kAvTransportType);
  std::string setUri = KeyValueMap::createMapFromPairs({
                                                           {"InstanceID", 0},
                                                           {"CurrentURI", escapeXmlChars(url)},
                                                           {"CurrentURIMetaData", ""},
                                                       })
                           .toJson();
  sendSoapAction(target.baseUrl, target.controlUrl, target.serviceType, "SetAVTransportURI", setUri);
  target = serviceTarget(readDevice(state, deviceIndex), kAvTransportType);
  std::string play = KeyValueMap::createMapFromPairs({{"InstanceID", 0}, {"Speed", "1"}}).toJson();
  sendSoapAction(target.baseUrl, target.controlUrl, target.serviceType, "Play", play);
}

std::string callDeviceAction(AppState& state, const std::string& serviceType, const std::string& actionName,
                             const std::string& argumentsJson, int deviceIndex) {
  ServiceTarget target = serviceTarget(readDevice(state, deviceIndex), serviceType);
  std::string body = sendSoapAction(target.baseUrl, target.controlUrl, target.serviceType, actionName, argumentsJson);
  return parseSoapResponse(body, actionName);
}

std::string fetchCurrentUri(AppState& state, int deviceIndex) {
  std::string arguments = KeyValueMap::createMapFromPairs({{"InstanceID", "0"}}).toJson();
  JsonObject result;
  result.parse(callDeviceAction(state, kAvTransportType, "GetMediaInfo", arguments, deviceIndex));
  return result.getText("data.CurrentURI");
}

}  // namespace tavrin
