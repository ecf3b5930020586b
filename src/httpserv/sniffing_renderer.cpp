#include "httpserv/sniffing_renderer.h"

#include <mutex>
#include <utility>

#include "app/app_state.h"
#include "httpserv/renderer_documents.h"
#include "platform/embedded_http_server.h"
#include "platform/free_port.h"
#include "platform/gbk_text.h"
#include "platform/key_value_map.h"
#include "platform/placeholders.h"
#include "platform/text_between.h"
#include "platform/text_encoding.h"
#include "platform/xml_escape.h"

namespace tavrin {
namespace {

constexpr int kFirstRendererPort = 18889;

const char kDescriptionPath[] = "/description.xml";
const char kServiceDescriptionPath[] = "/AVTransport.scpd.xml";
const char kAvTransportControlPath[] = "/_urn:schemas-upnp-org:service:AVTransport_control";
const char kConnectionManagerControlPath[] = "/_urn:schemas-upnp-org:service:ConnectionManager_control";
const char kRenderingControlPath[] = "/_urn:schemas-upnp-org:service:RenderingControl_control";

// Every answer names this type, on the other services' routes too.
const char kAvTransportType[] = "urn:schemas-upnp-org:service:AVTransport:1";

const char kResponseEnvelopeTemplate[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">  \r\n"
    "  <s:Body> \r\n"
    "    <u:[data]Response xmlns:u=\"[sever]\">[alldata]</u:[data]Response> \r\n"
    "  </s:Body> \r\n"
    "</s:Envelope>\r\n"
    "\r\n";

// captureCallback is replaced by startRenderer on the GUI thread while a
// handler of an earlier run may still be reading it (stop waits only a short
// while for a handler that blocks in the capture routine): both go through
// this lock, and the handler calls a copy of its own.
std::mutex& captureCallbackMutex() {
  static std::mutex mutex;
  return mutex;
}

void setCaptureCallback(AppState& state, CaptureRoutine routine) {
  std::lock_guard<std::mutex> lock(captureCallbackMutex());
  state.captureCallback = std::move(routine);
}

CaptureRoutine captureCallbackOf(const AppState& state) {
  std::lock_guard<std::mutex> lock(captureCallbackMutex());
  return state.captureCallback;
}

std::string beforeFirstZero(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// Takes the CurrentURI as it stands in the body (still XML-escaped) and
// hands its unescaped form to the capture routine.
void captureUri(AppState& state, const std::string& postData) {
  const std::string raw = textBetween(utf8ToGbk(postData), "<CurrentURI>", "</CurrentURI>");
  const CaptureRoutine capture = captureCallbackOf(state);
  if (capture) capture(unescapeXmlChars(raw));
  state.lastCapturedUri.set(raw);
}

void setMediaInfo(const AppState& state, KeyValueMap& arguments) {
  arguments.setText("NrTracks", "0");
  arguments.setText("MediaDuration", "00:00:00");
  arguments.setText("CurrentURI", state.lastCapturedUri.get());
  arguments.setText("CurrentURIMetaData", "");
  arguments.setText("NextURI", "NOT_IMPLEMENTED");
  arguments.setText("NextURIMetaData", "NOT_IMPLEMENTED");
  arguments.setText("PlayMedium", "NONE");
  arguments.setText("RecordMedium", "NOT_IMPLEMENTED");
  arguments.setText("WriteStatus", "NOT_IMPLEMENTED");
}

void setTransportInfo(const AppState& state, KeyValueMap& arguments) {
  arguments.setText("CurrentTransportState", state.rendererPlaying ? "PLAYING" : "NO_MEDIA_PRESENT");
  arguments.setText("CurrentTransportStatus", "OK");
  arguments.setText("CurrentSpeed", "1");
}

// Carries out one AVTransport action; names are compared exactly, and any
// other name, the empty one included, changes nothing and answers nothing.
void runAvTransportAction(AppState& state, const std::string& action, const std::string& postData,
                          KeyValueMap& arguments) {
  arguments.clear();
  if (action == "SetAVTransportURI") {
    state.rendererPlaying = true;
    captureUri(state, postData);
  } else if (action == "Play") {
    state.rendererPlaying = true;
  } else if (action == "GetMediaInfo" || action == "GetPositionInfo") {
    setMediaInfo(state, arguments);
  } else if (action == "Stop") {
    state.rendererPlaying = false;
  } else if (action == "GetTransportInfo") {
    setTransportInfo(state, arguments);
  }
}

}  // namespace

std::string soapActionName(const std::string& body) {
  return trimText(textBetween(textBetween(body, "Body>", "</s:Body"), "<u:", "xmlns"));
}

bool startRenderer(AppState& state, const std::string& friendlyName, CaptureRoutine captureRoutine) {
  setCaptureCallback(state, std::move(captureRoutine));
  const int port = findFreePort(kFirstRendererPort);
  state.rendererFriendlyName.set(friendlyName);
  if (port == -1 || !state.rendererServer) return false;
  EmbeddedHttpServer& server = *state.rendererServer;
  state.rendererPort = port;
  const PathHandler handler = [&state](const HttpRequest& request, HttpResponse& response) {
    return handleRendererRequest(state, request, response);
  };
  for (const char* route : {kDescriptionPath, kServiceDescriptionPath, kAvTransportControlPath,
                            kConnectionManagerControlPath, kRenderingControlPath, kNotFoundRoute}) {
    server.registerPathHandler(handler, route);
  }
  KeyValueMap config;
  config.setInt(utf8ToGbk("端口"), port);
  const bool started = server.start(config);
  // Started again while running, the server stays on its port (the probe
  // saw that one taken and offered the next): the responder must keep
  // announcing the port it really listens on.
  if (!started && server.isRunning()) state.rendererPort = server.port();
  return started;
}

void stopRenderer(AppState& state) {
  if (state.rendererServer) state.rendererServer->stop();
}

bool handleRendererRequest(AppState& state, const HttpRequest& request, HttpResponse& response) {
  response.setHeader("Content-Type", "text/xml; charset=\"utf-8\"");
  response.setHeader("Server", "Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0 Microsoft-HTTPAPI/2.0");
  // Compared with its query string: a document asked for with one gets the
  // empty action response.
  const std::string& path = request.path();
  const std::string action = soapActionName(beforeFirstZero(request.postData()));

  if (path == kDescriptionPath) {
    return response.writeText(replacePlaceholders(
        kRendererDescriptionTemplate,
        {{"[ip]", state.rendererAddress.get()}, {"[NAME]", state.rendererFriendlyName.get()}}));
  }
  if (path == kServiceDescriptionPath) return response.writeData(rendererServiceDescription());

  KeyValueMap arguments;
  if (path == kAvTransportControlPath) runAvTransportAction(state, action, request.postData(), arguments);
  return response.writeText(buildActionResponse(action, kAvTransportType, arguments.toJson()));
}

std::string buildActionResponse(const std::string& action, const std::string& serviceType,
                                const std::string& argumentsJson) {
  KeyValueMap arguments;
  arguments.fromJson(argumentsJson);
  std::string elements;
  for (const std::string& key : arguments.getKeys()) {
    elements.append("<").append(key).append(">").append(arguments.getText(key));
    elements.append("</").append(key).append(">");
  }
  return replacePlaceholders(kResponseEnvelopeTemplate,
                             {{"[data]", action}, {"[sever]", serviceType}, {"[alldata]", elements}});
}

}  // namespace tavrin
