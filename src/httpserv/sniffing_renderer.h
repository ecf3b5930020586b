#pragma once
// The sniffing renderer: a virtual UPnP MediaRenderer with one AVTransport
// service. Phone apps cast to it; the URL of each SetAVTransportURI goes to
// the capture routine instead of being played, and the few status queries
// that apps send around a cast are answered so that they believe playback
// has started.
#include <functional>
#include <string>

#include "platform/http_request.h"
#include "platform/http_response.h"

namespace tavrin {

struct AppState;

// Receives each captured URI as a GBK text, XML entities resolved. Runs on
// a worker thread of the renderer's server, which waits for it to return
// before it answers.
using CaptureRoutine = std::function<void(const std::string& uri)>;

// Sets the capture routine and the friendly name (GBK), and starts
// rendererServer on the first free port of the ten from 18889 with the
// renderer's routes. False when no port is free or the server does not
// start. The transport state and the last captured URI stay as they were.
bool startRenderer(AppState& state, const std::string& friendlyName, CaptureRoutine captureRoutine);

// Stops rendererServer; nothing else changes.
void stopRenderer(AppState& state);

// The path handler of every route of the renderer: the device description,
// the service description, AVTransport control, and an empty action
// response for everything else. Runs on the server's worker threads,
// several at once.
bool handleRendererRequest(AppState& state, const HttpRequest& request, HttpResponse& response);

// The SOAP response envelope of the action with the argument elements of
// argumentsJson (a JSON object; members in their order, values unescaped).
// The name of the action in a SOAP body: the text between "<u:" and "xmlns"
// inside the body, so only an action element with the prefix u: is found.
std::string soapActionName(const std::string& body);

std::string buildActionResponse(const std::string& action, const std::string& serviceType,
                                const std::string& argumentsJson);

}  // namespace tavrin
