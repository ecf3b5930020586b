#pragma once

namespace tavrin {

// Start-up: stops "upnphost" when it runs, otherwise "SSDPSRV" when it runs,
// so that the SSDP port is free; at most one service is stopped. True when
// neither runs; false when the stop request was refused.
bool stopSsdpServices();

}  // namespace tavrin
