#include "cli/address_choice.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/local_addresses.h"

namespace tavrin {

std::string interfaceIpv4Address(const std::string& interfaceName) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || interfaceName != entry->ifa_name) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) return text;
  }
  return {};
}

bool chooseLocalAddress(const std::string& interfaceName, const std::string& address, std::string& error) {
  std::string chosen = address;
  if (!interfaceName.empty()) {
    chosen = interfaceIpv4Address(interfaceName);
    if (chosen.empty()) {
      error = "interface " + interfaceName + " has no IPv4 address";
      return false;
    }
  }
  if (chosen.empty()) return true;
  const std::vector<std::string> own = getLocalIpv4Addresses();
  if (std::find(own.begin(), own.end(), chosen) == own.end()) {
    error = "address " + chosen + " is not an address of this host";
    return false;
  }
  setLocalAddressSource([chosen] { return std::vector<std::string>{chosen}; });
  return true;
}

}  // namespace tavrin
