#pragma once
#include <functional>
#include <string>

namespace tavrin {

struct AppState;
struct HttpExchange;

// Reads the description at a location; httpRequest on the network.
using DescriptionFetch = std::function<std::string(const std::string& location, HttpExchange& exchange)>;

// Turns one SSDP datagram into a device record when it is the answer or
// announcement of a DLNA device not yet in the device list: fetches the
// description named by its location, appends the record and tells
// deviceFoundCallback its position. Runs on the receive thread.
void handleSsdpAnswer(AppState& state, const std::string& datagram);
// The same with the description read by fetch, for a datagram path without
// the network.
void handleSsdpAnswer(AppState& state, const std::string& datagram, const DescriptionFetch& fetch);

// A record keeps at most this many services, the first ones of the
// description; renderers have a handful.
constexpr int kMaxServicesPerDevice = 256;

// The device's base URL when its description has no URLBase: the location
// cut before the first "/" from its tenth character on (scheme, host, port).
std::string baseUrlFromLocation(const std::string& location);

}  // namespace tavrin
