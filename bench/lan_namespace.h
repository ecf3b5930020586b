#pragma once
// Load threads of a benchmark that stand on other hosts of the test LAN:
// a thread moves itself into the network namespace of such a host, so the
// sockets it makes afterwards live there and its traffic crosses the LAN's
// bridge like a real device's.
#include <string>

namespace tavrin::bench {

// Moves the calling thread into the namespace of a host of the LAN whose
// host the calling thread stands on (found among the named namespaces, so
// that it is never another LAN's), and checks that the host's address is
// there. False, with the thread where it was, when any of it fails.
bool enterLanHost(const std::string& host, const std::string& address);

}  // namespace tavrin::bench
