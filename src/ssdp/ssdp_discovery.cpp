#include "ssdp/ssdp_discovery.h"

#include "app/app_state.h"
#include "platform/local_addresses.h"
#include "platform/message.h"
#include "platform/text_encoding.h"
#include "ssdp/device_list_builder.h"
#include "ssdp/ssdp_messages.h"

namespace tavrin {
namespace {

// More than a socket buffer holds of the smallest datagrams.
constexpr int kMaxWaitingDatagrams = 100000;

}  // namespace

bool startDiscovery(AppState& state, std::function<void(int index)> deviceFound, DatagramObserver observer) {
  state.deviceList->clear();
  state.deviceFoundCallback = std::move(deviceFound);
  if (!state.ssdpSocket->open("", kSsdpPort, false, true, kSsdpGroup)) return false;
  state.receiveThread = std::thread(ssdpReceiveLoop, std::ref(state), std::move(observer));
  if (!state.ssdpSocket->send(buildSearchDatagram(), kSsdpGroup, kSsdpPort)) {
    showMessage(utf8ToGbk("发送失败"));
  }
  return true;
}

void repeatSearch(AppState& state) {
  {
    WriteGuard guard(*state.deviceListLock);
    state.deviceList->clear();
    // What queued up while a slow description was read answers an older
    // search; a full buffer would drop the answers to this one.
    state.ssdpSocket->discardWaiting(kMaxWaitingDatagrams);
    // A new search gives every location its chance again: a TV whose web
    // server was still starting a minute ago answers now.
    state.descriptionFailures.clear();
  }
  state.ssdpSocket->send(buildSearchDatagram(), kSsdpGroup, kSsdpPort);
}

void ssdpReceiveLoop(AppState& state, const DatagramObserver& observer) {
  while (!state.stopping) {
    UdpReceiveResult result = state.ssdpSocket->receive(0, -1);
    if (observer && (result.received || result.discarded)) observer(result);
    // An empty or oversized datagram is refused but costs nothing: one such
    // packet from any host must not end discovery for good.
    if (!result.ok && result.discarded) continue;
    if (!result.ok) return;
    if (!result.received) continue;
    std::string text = result.data.substr(0, result.data.find('\0'));
    if (text.find("M-SEARCH") != std::string::npos && state.rendererServer->isRunning()) {
      answerSearch(state, result.senderAddress, result.senderPort);
    } else {
      handleSsdpAnswer(state, text);
    }
  }
}

void answerSearch(AppState& state, const std::string& senderAddress, int senderPort) {
  std::string address = localAddressInNetworkOf(senderAddress, getLocalIpv4Addresses());
  // No address of the host is in the sender's network: a location it could
  // not reach would only mislead it.
  if (address.empty()) return;
  std::string rendererAddress = address + ":" + std::to_string(state.rendererPort.load());
  state.rendererAddress.set(rendererAddress);
  state.ssdpSocket->send(buildSearchAnswer(rendererAddress), senderAddress, senderPort);
}

void stopDiscovery(AppState& state) {
  state.stopping = true;
  if (state.ssdpSocket) state.ssdpSocket->close();
  if (state.receiveThread.joinable()) state.receiveThread.join();
}

}  // namespace tavrin
