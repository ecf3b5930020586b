#pragma once
// Searching for renderers, the receive thread, and the answer the program
// gives to searches while its sniffing renderer runs.
#include <functional>
#include <string>

namespace tavrin {

struct AppState;
struct UdpReceiveResult;

// Sees every datagram the receive thread reads, discarded ones too, before
// it is handled; runs on the receive thread.
using DatagramObserver = std::function<void(const UdpReceiveResult& datagram)>;

// Empties the device list, opens the SSDP socket on UDP 1900 in the SSDP
// group, starts the receive thread and sends the first search ("发送失败"
// when it cannot be sent). False when the socket could not be opened; the
// socket has then reported why.
bool startDiscovery(AppState& state, std::function<void(int index)> deviceFound,
                    DatagramObserver observer = {});

// Empties the device list (waiting for a description being read), drops the
// datagrams still waiting to be read, forgets the locations remembered as
// failing, and sends a search.
void repeatSearch(AppState& state);

// The receive thread: reads datagrams until the socket is closed or fails.
void ssdpReceiveLoop(AppState& state, const DatagramObserver& observer);

// Answers a search for the sniffing renderer with its location on the
// host's address in the sender's network.
void answerSearch(AppState& state, const std::string& senderAddress, int senderPort);

// Ends the receive thread: closes the socket, gives up a description being
// read, and waits for the thread to finish. Nothing when it never started.
void stopDiscovery(AppState& state);

}  // namespace tavrin
