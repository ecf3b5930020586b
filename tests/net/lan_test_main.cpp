// The entry of the network tests: they join the SSDP group and send to the
// test LAN's addresses, so they refuse to run anywhere but on its host.
#include <gtest/gtest.h>

#include <cstdio>

#include "fixtures/lan_process.h"

int main(int argc, char** argv) {
  if (!tavrin::testing::hasLocalAddress("10.77.0.1")) {
    std::fprintf(stderr, "%s runs only on the test LAN's host: scripts/lan exec host %s\n", argv[0], argv[0]);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
