// Feeds one HTTP request of a phone app (path, SOAPACTION header, body) to
// the sniffing renderer's handler, called directly: no server, no socket.
// Checks: a URL is captured (once) exactly for SetAVTransportURI posted to
// the AVTransport control route, and then the transport plays and the last
// captured URI is what was taken; no other request changes the last URI;
// every answer has a body and the XML content type.
//
// Input: [path piece][SOAPACTION piece][last URI piece][body bytes...][route byte]
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "app/app_state.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

const char kControlPath[] = "/_urn:schemas-upnp-org:service:AVTransport_control";
const char* const kRoutes[] = {
    "/description.xml",
    "/AVTransport.scpd.xml",
    kControlPath,
    "/_urn:schemas-upnp-org:service:ConnectionManager_control",
    "/_urn:schemas-upnp-org:service:RenderingControl_control",
};

using fuzz::require;

AppState& sharedState() {
  static AppState* state = [] {
    auto* made = new AppState;
    made->rendererFriendlyName.set(utf8ToGbk("嗅探 TV"));
    made->rendererAddress.set("10.77.0.1:18889");
    return made;
  }();
  return *state;
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const size_t route = input.ConsumeIntegralInRange<size_t>(0, std::size(kRoutes));
  const std::string ownPath = input.ConsumeRandomLengthString(512);
  const std::string soapAction = input.ConsumeRandomLengthString(256);
  const std::string lastUri = input.ConsumeRandomLengthString(1024);
  const std::string body = input.ConsumeRemainingBytesAsString();
  const std::string path = route < std::size(kRoutes) ? kRoutes[route] : ownPath;

  AppState& state = sharedState();
  state.rendererPlaying = false;
  state.lastCapturedUri.set(lastUri);
  std::vector<std::string> captured;
  state.captureCallback = [&captured](const std::string& uri) { captured.push_back(uri); };

  const HttpRequest request("POST", path, {{"SOAPACTION", soapAction}, {"Content-Type", "text/xml"}}, body,
                            "10.77.0.3");
  HttpResponse response;
  require(handleRendererRequest(state, request, response));
  state.captureCallback = nullptr;

  const bool setUri = path == kControlPath &&
                      soapActionName(body.substr(0, body.find('\0'))) == "SetAVTransportURI";
  require(captured.size() == (setUri ? 1u : 0u));
  if (setUri) {
    require(state.rendererPlaying);
    require(captured[0].size() <= body.size());
  } else {
    require(state.lastCapturedUri.get() == lastUri);
  }
  require(!response.body().empty());
  bool xmlType = false;
  for (const auto& [name, value] : response.headers()) {
    if (name == "Content-Type") xmlType = value.compare(0, 8, "text/xml") == 0;
  }
  require(xmlType);
  if (path == kRoutes[0]) require(response.body().find("嗅探 TV") != std::string::npos);
  return 0;
}
