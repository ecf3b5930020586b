#include "httpserv/media_server.h"

#include <ctime>

#include "app/app_state.h"
#include "control/av_transport.h"
#include "json/json_object.h"
#include "platform/gbk_text.h"
#include "platform/local_addresses.h"
#include "platform/message.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

// Seekable (byte ranges), streaming transfer: what DLNA TVs expect of a
// plain file before they play it.
const char kContentFeatures[] = "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000";

}  // namespace

bool serveMediaFile(AppState& state, const HttpRequest& request, HttpResponse& response) {
  if (request.header("getcontentFeatures.dlna.org") == "1") {
    response.setHeader("contentFeatures.dlna.org", kContentFeatures);
  }
  if (!request.header("transferMode.dlna.org").empty()) {
    response.setHeader("transferMode.dlna.org", "Streaming");
  }
  return response.sendFile(state.selectedMediaPath.get());
}

void registerMediaPath(AppState& state) {
  state.mediaServer->registerPathHandler(
      [&state](const HttpRequest& request, HttpResponse& response) { return serveMediaFile(state, request, response); },
      "/1");
}

void pushLocalFile(AppState& state, const std::string& path, int selectedRow, int deviceValue) {
  if (selectedRow < 0 || deviceValue < 0) return;
  state.selectedMediaPath.set(path);
  JsonObject device;
  device.parse(deviceRecordJson(state, deviceValue));
  std::string host = textAfterLast(device.getText("url"), "/");
  std::string address = localAddressInNetworkOf(host, getLocalIpv4Addresses());
  if (address.empty()) {
    showMessage(utf8ToGbk("本机没有与设备同网段的地址"));
    return;
  }
  std::string mediaUrl =
      "http://" + address + ":" + std::to_string(state.mediaServerPort.load()) + "/1?" + makeTimeStamp();
  pushUrl(state, mediaUrl, selectedRow + 1);
  showMessage(utf8ToGbk("完成"));
}

std::string deviceRecordJson(const AppState& state, int deviceIndex) {
  KeyValueMap record;
  state.deviceList->getMap(deviceIndex, record);
  return record.toJson();
}

std::string makeTimeStamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  return makeTimeStamp(now, local.tm_gmtoff);
}

std::string makeTimeStamp(std::chrono::system_clock::time_point now, long utcOffsetSeconds) {
  using namespace std::chrono;
  long long millisSinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
  long long unixSeconds = millisSinceEpoch / 1000;
  int millis = static_cast<int>(millisSinceEpoch % 1000);
  constexpr long kUtcPlus8 = 8 * 3600;
  std::string digits = std::to_string(unixSeconds + utcOffsetSeconds - kUtcPlus8);
  digits += std::string(millis < 100 ? (millis < 10 ? "00" : "0") : "") + std::to_string(millis);
  digits.resize(10, '0');
  return digits;
}

std::string textAfterLast(const std::string& text, const std::string& separator) {
  size_t last = kTextNotFound;
  for (size_t at = findText(text, separator); at != kTextNotFound; at = findText(text, separator, at + 1)) {
    last = at;
  }
  return last == kTextNotFound ? std::string() : text.substr(last + separator.size());
}

}  // namespace tavrin
