#include <cstdio>

#include "app/app_state.h"
#include "platform/free_port.h"
#include "platform/local_addresses.h"

int main() {
  tavrin::AppState state;
  tavrin::initAppState(state);
  std::printf("Tavrin V1.2\n");
  for (const std::string& address : tavrin::getLocalIpv4Addresses()) {
    std::printf("address %s\n", address.c_str());
  }
  std::printf("media server port %d\n", tavrin::findFreePort(16789));
  tavrin::shutdownAppState(state);
  return 0;
}
