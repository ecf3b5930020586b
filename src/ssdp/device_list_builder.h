#pragma once
#include <functional>
#include <string>

#include "httpclient/http_request.h"

namespace tavrin {

struct AppState;

// Reads the description at a location; httpRequest on the network.
using DescriptionFetch = std::function<std::string(const std::string& location, HttpExchange& exchange)>;

// Turns one SSDP datagram into a device record when it is the answer or
// announcement of a DLNA device not yet in the device list: fetches the
// description named by its location, appends the record and tells
// deviceFoundCallback its position. Runs on the receive thread. A location
// whose fetch lately timed out, found no server or sent too much is not
// fetched again for a while (state.descriptionFailures).
void handleSsdpAnswer(AppState& state, const std::string& datagram);
// The same with the description read by fetch, for a datagram path without
// the network.
void handleSsdpAnswer(AppState& state, const std::string& datagram, const DescriptionFetch& fetch);

// Time limits of a description fetch: descriptions are small documents
// from the local network, and the receive thread waits for each one while
// every other datagram waits in the socket's buffer. A peer that drips its
// answer is given up after as long as one that sends nothing.
constexpr HttpTimeLimits kDescriptionTimeLimits{10, 30, 30};

// A record keeps at most this many services, the first ones of the
// description; renderers have a handful.
constexpr int kMaxServicesPerDevice = 256;

// The device's base URL when its description has no URLBase: the location
// cut before the first "/" from its tenth character on (scheme, host, port).
std::string baseUrlFromLocation(const std::string& location);

}  // namespace tavrin
