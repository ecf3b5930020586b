#pragma once
#include <functional>
#include <string>
#include <vector>

namespace tavrin {

// The host's own IPv4 addresses as dotted texts: interfaces that are up,
// loopback excluded, in interface order. Read afresh on every call.
std::vector<std::string> getLocalIpv4Addresses();

// The first local address that contains the peer's prefix (its text up to
// and including the last "."), anywhere in it: the host's address in the
// peer's network. A peer without "." has the empty prefix, which every
// address contains. Empty when no address fits.
std::string localAddressInNetworkOf(const std::string& peer, const std::vector<std::string>& localAddresses);

// Where getLocalIpv4Addresses takes its list from; tests supply their own.
// An empty source restores the system's. Returns the previous source.
using LocalAddressSource = std::function<std::vector<std::string>()>;
LocalAddressSource setLocalAddressSource(LocalAddressSource source);

}  // namespace tavrin
