#pragma once
// The SSDP texts the program sends: its search for root devices, and the one
// answer it gives on behalf of the sniffing renderer.
#include <string>

namespace tavrin {

constexpr const char* kSsdpGroup = "239.255.255.250";
constexpr int kSsdpPort = 1900;

// The M-SEARCH datagram: seven header lines and the empty line, 173 bytes.
std::string buildSearchDatagram();

// The answer naming the renderer's "address:port", as UTF-8 with a final
// zero byte.
std::string buildSearchAnswer(const std::string& rendererAddress);

}  // namespace tavrin
