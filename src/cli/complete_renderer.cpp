#include "cli/complete_renderer.h"

#include <cstdlib>

#include "app/app_state.h"
#include "httpserv/renderer_documents.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/key_value_map.h"
#include "platform/gbk_text.h"
#include "platform/placeholders.h"
#include "platform/text_between.h"

namespace tavrin {
namespace {

const char kDescriptionPath[] = "/description.xml";
const char kConnectionManagerScpdPath[] = "/ConnectionManager.scpd.xml";
const char kRenderingControlScpdPath[] = "/RenderingControl.scpd.xml";
const char kConnectionManagerControlPath[] = "/_urn:schemas-upnp-org:service:ConnectionManager_control";
const char kRenderingControlPath[] = "/_urn:schemas-upnp-org:service:RenderingControl_control";

const char* const kPaths[] = {kDescriptionPath, kConnectionManagerScpdPath, kRenderingControlScpdPath,
                              kConnectionManagerControlPath, kRenderingControlPath, nullptr};

std::string argumentOf(const std::string& body, const std::string& name) {
  return trimText(textBetween(body, "<" + name + ">", "</" + name + ">"));
}

void runConnectionManagerAction(const std::string& action, KeyValueMap& arguments) {
  if (action == "GetProtocolInfo") {
    arguments.setText("Source", "");
    arguments.setText("Sink", kSinkProtocolInfo);
  } else if (action == "GetCurrentConnectionIDs") {
    arguments.setText("ConnectionIDs", "0");
  } else if (action == "GetCurrentConnectionInfo") {
    arguments.setText("RcsID", "0");
    arguments.setText("AVTransportID", "0");
    arguments.setText("ProtocolInfo", "");
    arguments.setText("PeerConnectionManager", "");
    arguments.setText("PeerConnectionID", "-1");
    arguments.setText("Direction", "Input");
    arguments.setText("Status", "OK");
  }
}

// A volume outside 0..100 or no number is left out: the kept value stays.
void runRenderingControlAction(RenderingSettings& settings, const std::string& action, const std::string& body,
                               KeyValueMap& arguments) {
  if (action == "GetVolume") {
    arguments.setText("CurrentVolume", std::to_string(settings.volume.load()));
  } else if (action == "SetVolume") {
    const std::string text = argumentOf(body, "DesiredVolume");
    if (!text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos) {
      const int volume = std::atoi(text.c_str());
      if (volume <= 100) settings.volume = volume;
    }
  } else if (action == "GetMute") {
    arguments.setText("CurrentMute", settings.mute ? "1" : "0");
  } else if (action == "SetMute") {
    const std::string text = argumentOf(body, "DesiredMute");
    if (text == "1" || text == "true") settings.mute = true;
    if (text == "0" || text == "false") settings.mute = false;
  }
}

}  // namespace

const char* const* completeRendererPaths() { return kPaths; }

const std::string& completeDescriptionTemplate() {
  static const std::string text = rendererDescriptionTemplate({"ConnectionManager", "RenderingControl"});
  return text;
}

bool handleCompleteRendererRequest(AppState& state, RenderingSettings& settings, const HttpRequest& request,
                                   HttpResponse& response) {
  const std::string& path = request.path();
  const bool ours = path == kDescriptionPath || path == kConnectionManagerScpdPath ||
                    path == kRenderingControlScpdPath || path == kConnectionManagerControlPath ||
                    path == kRenderingControlPath;
  if (!ours) return handleRendererRequest(state, request, response);
  response.setHeader("Content-Type", "text/xml; charset=\"utf-8\"");
  if (path == kDescriptionPath) {
    return response.writeText(replacePlaceholders(
        completeDescriptionTemplate(),
        {{"[ip]", state.rendererAddress.get()}, {"[NAME]", state.rendererFriendlyName.get()}}));
  }
  if (path == kConnectionManagerScpdPath) return response.writeData(kConnectionManagerDescription);
  if (path == kRenderingControlScpdPath) return response.writeData(kRenderingControlDescription);

  const std::string body = request.postData().substr(0, request.postData().find('\0'));
  const std::string action = soapActionName(body);
  KeyValueMap arguments;
  if (path == kConnectionManagerControlPath) {
    runConnectionManagerAction(action, arguments);
    return response.writeText(buildActionResponse(action, kConnectionManagerType, arguments.toJson()));
  }
  runRenderingControlAction(settings, action, body, arguments);
  return response.writeText(buildActionResponse(action, kRenderingControlType, arguments.toJson()));
}

}  // namespace tavrin
