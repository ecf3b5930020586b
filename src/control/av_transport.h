#pragma once
// What the program asks of a discovered renderer: play a URL, and say which
// URI it plays. Devices are addressed by their 1-based index in the device
// list and read afresh for every operation.
#include <string>

namespace tavrin {

struct AppState;
class KeyValueMap;

constexpr const char* kAvTransportType = "urn:schemas-upnp-org:service:AVTransport:1";

// The 1-based position of the device's service of that type; failing an
// exact match, the first service of the same type in another version
// (versions are backward compatible); else the number of services plus 1.
int findService(const KeyValueMap& device, const std::string& serviceType);

// SetAVTransportURI with the URL, then Play; answers are not examined.
void pushUrl(AppState& state, const std::string& url, int deviceIndex);

// Sends the action to the device's service of the type and returns the
// ActionResult of the answer.
std::string callDeviceAction(AppState& state, const std::string& serviceType, const std::string& actionName,
                             const std::string& argumentsJson, int deviceIndex);

// The URI the renderer reports as its current one (GetMediaInfo), or empty.
std::string fetchCurrentUri(AppState& state, int deviceIndex);

}  // namespace tavrin
