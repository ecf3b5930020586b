#include "app/app_state.h"

#include "ssdp/ssdp_discovery.h"

namespace tavrin {

void initAppState(AppState& state, std::unique_ptr<FileDropTarget> dropTarget) {
  state.deviceList = std::make_unique<KeyValueList>();
  state.rendererServer = std::make_unique<EmbeddedHttpServer>();
  state.deviceListLock = std::make_unique<SharedLock>();
  // The socket reports through messageCallback as it stands when it reports:
  // the start-up sequence sets it only after the socket exists.
  state.ssdpSocket = std::make_unique<UdpMulticastSocket>([&state](const std::string& text) {
    if (state.messageCallback) state.messageCallback(text);
  });
  state.dropTarget = std::move(dropTarget);
  state.mediaServer = std::make_unique<EmbeddedHttpServer>();
}

void shutdownAppState(AppState& state) {
  // The receive thread uses the device list, its lock and the socket: it
  // ends before any of them goes.
  stopDiscovery(state);
  state.selectedMediaPath.clear();
  state.deviceList.reset();
  state.rendererFriendlyName.clear();
  state.rendererServer.reset();
  state.rendererAddress.clear();
  state.lastCapturedUri.clear();
  state.deviceListLock.reset();
  state.ssdpSocket.reset();
  state.dropTarget.reset();
  state.mediaServer.reset();
}

}  // namespace tavrin
