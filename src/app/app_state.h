#pragma once
// The one record of program-wide state. Objects live from initAppState to
// shutdownAppState; fields that worker threads share with the GUI thread are
// safe on their own (atomics, SharedText, the list's internal locking).
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/file_drop_target.h"
#include "platform/embedded_http_server.h"
#include "platform/key_value_list.h"
#include "platform/shared_lock.h"
#include "platform/shared_text.h"
#include "ssdp/fetch_failure_memory.h"
#include "ssdp/udp_multicast_socket.h"

namespace tavrin {

struct AppState {
  SharedText selectedMediaPath;
  std::atomic<int> mediaServerPort{0};
  std::unique_ptr<KeyValueList> deviceList;
  std::function<void(const std::string& uri)> captureCallback;
  SharedText rendererFriendlyName;
  std::atomic<int> rendererPort{0};
  std::unique_ptr<EmbeddedHttpServer> rendererServer;
  SharedText rendererAddress;
  std::atomic<bool> rendererPlaying{false};
  SharedText lastCapturedUri;
  std::atomic<int> capturedRowCount{0};
  std::unique_ptr<SharedLock> deviceListLock;
  std::unique_ptr<UdpMulticastSocket> ssdpSocket;
  std::unique_ptr<FileDropTarget> dropTarget;
  std::unique_ptr<EmbeddedHttpServer> mediaServer;
  std::function<void(const std::string& text)> messageCallback;
  std::function<void(int index)> deviceFoundCallback;
  // Description locations that lately failed costly; used by the receive
  // thread under the write side of deviceListLock.
  FetchFailureMemory descriptionFailures;

  // The SSDP receive thread, and the signal that ends it (and any description
  // it is reading) at exit, so that nothing it uses is freed under it.
  std::thread receiveThread;
  std::atomic<bool> stopping{false};
};

// Creates the long-lived objects in the program's order. The drop target is
// the window program's; a program without a window passes none.
void initAppState(AppState& state, std::unique_ptr<FileDropTarget> dropTarget = nullptr);

// Frees the state in the program's exit order.
void shutdownAppState(AppState& state);

}  // namespace tavrin
