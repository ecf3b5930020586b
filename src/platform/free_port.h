#pragma once

namespace tavrin {

// The first of the ten TCP ports from `first` on which nobody on the host's
// first IPv4 address accepts a connection, or -1 when all ten are taken.
// When the probe cannot run (no address, no socket), it returns `first`.
int findFreePort(int first);

}  // namespace tavrin
