#include "host/ssdp_services.h"

#include "host/service_controller.h"
#include "host/service_labels.h"

namespace tavrin {

bool stopSsdpServices() {
  ServiceController controller;
  if (controller.queryState("upnphost") == kServiceRunning) return controller.stopService("upnphost");
  if (controller.queryState("SSDPSRV") == kServiceRunning) return controller.stopService("SSDPSRV");
  return true;
}

}  // namespace tavrin
