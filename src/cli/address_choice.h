#pragma once
// --interface and --address: which of the host's IPv4 addresses the program
// uses when it has several (search answers, media URLs).
#include <string>

namespace tavrin {

// The IPv4 address of the interface, or empty when it has none.
std::string interfaceIpv4Address(const std::string& interfaceName);

// Makes the program see only the chosen address among the host's own.
// Nothing changes when both are empty. False with a message in `error`
// when the interface has no IPv4 address or the address is not the host's.
bool chooseLocalAddress(const std::string& interfaceName, const std::string& address, std::string& error);

}  // namespace tavrin
