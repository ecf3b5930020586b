#include "platform/local_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>
#include <mutex>

namespace tavrin {
namespace {

std::vector<std::string> systemAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) addresses.emplace_back(text);
  }
  return addresses;
}

std::mutex sourceMutex;

LocalAddressSource& currentSource() {
  static LocalAddressSource source;
  return source;
}

}  // namespace

std::vector<std::string> getLocalIpv4Addresses() {
  LocalAddressSource source;
  {
    std::lock_guard<std::mutex> lock(sourceMutex);
    source = currentSource();
  }
  return source ? source() : systemAddresses();
}

std::string localAddressInNetworkOf(const std::string& peer, const std::vector<std::string>& localAddresses) {
  std::string prefix = peer.substr(0, peer.rfind('.') + 1);
  for (const std::string& address : localAddresses) {
    if (address.find(prefix) != std::string::npos) return address;
  }
  return {};
}

LocalAddressSource setLocalAddressSource(LocalAddressSource source) {
  std::lock_guard<std::mutex> lock(sourceMutex);
  currentSource().swap(source);
  return source;
}

}  // namespace tavrin
