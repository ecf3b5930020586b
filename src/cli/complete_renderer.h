#pragma once
// The sniffing renderer made complete for control points that refuse a
// MediaRenderer without ConnectionManager and RenderingControl: its
// description lists both besides AVTransport, their service descriptions
// are served, and their actions answered (volume and mute are kept).
// AVTransport and everything else stay the sniffing renderer's.
#include <atomic>
#include <string>

#include "platform/http_request.h"
#include "platform/http_response.h"

namespace tavrin {

struct AppState;

constexpr const char* kConnectionManagerType = "urn:schemas-upnp-org:service:ConnectionManager:1";
constexpr const char* kRenderingControlType = "urn:schemas-upnp-org:service:RenderingControl:1";

// The sink protocols offered by GetProtocolInfo: common video, audio and
// image types over HTTP.
extern const char kSinkProtocolInfo[];

// The sniffing renderer's device description template with both services
// added after AVTransport.
const std::string& completeDescriptionTemplate();
extern const char kConnectionManagerDescription[];
extern const char kRenderingControlDescription[];

struct RenderingSettings {
  std::atomic<int> volume{30};
  std::atomic<bool> mute{false};
};

// Answers the paths of the complete renderer and hands every other request
// to handleRendererRequest.
bool handleCompleteRendererRequest(AppState& state, RenderingSettings& settings, const HttpRequest& request,
                                   HttpResponse& response);

// The paths whose answers differ from the sniffing renderer's.
const char* const* completeRendererPaths();

}  // namespace tavrin
