#pragma once
#include <functional>
#include <string>
#include <vector>

namespace tavrin {

// The host's own IPv4 addresses as dotted texts: interfaces that are up,
// loopback excluded, in interface order. Read afresh on every call.
std::vector<std::string> getLocalIpv4Addresses();

// Where getLocalIpv4Addresses takes its list from; tests supply their own.
// An empty source restores the system's. Returns the previous source.
using LocalAddressSource = std::function<std::vector<std::string>()>;
LocalAddressSource setLocalAddressSource(LocalAddressSource source);

}  // namespace tavrin
