#include "httpserv/renderer_documents.h"

#include <optional>
#include <vector>

namespace tavrin {

// The model description's trailing space belongs to the text.
const char kRendererDescriptionTemplate[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n"
    "   <specVersion>\r\n"
    "      <major>1</major>\r\n"
    "      <minor>0</minor>\r\n"
    "   </specVersion>\r\n"
    "   <URLBase>http://[ip]</URLBase>\r\n"
    "   <device>\r\n"
    "      <deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>\r\n"
    "      <friendlyName>[NAME]</friendlyName>\r\n"
    "      <manufacturer>KQVD</manufacturer>\r\n"
    "      <manufacturerURL>https://tavrin.invalid/</manufacturerURL>\r\n"
    "      <modelDescription>KQVD Media Renderer </modelDescription>\r\n"
    "      <modelName>dora</modelName>\r\n"
    "      <modelNumber>1</modelNumber>\r\n"
    "      <modelURL>https://tavrin.invalid/</modelURL>\r\n"
    "      <UDN>uuid:KQVDKQVDKQVD</UDN>\r\n"
    "      <dlna:X_DLNADOC xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">DMR-1.50</dlna:X_DLNADOC>\r\n"
    "      <serviceList>\r\n"
    "         <service>\r\n"
    "            <serviceType>urn:schemas-upnp-org:service:AVTransport:1</serviceType>\r\n"
    "            <serviceId>urn:upnp-org:serviceId:AVTransport</serviceId>\r\n"
    "            <SCPDURL>AVTransport.scpd.xml</SCPDURL>\r\n"
    "            <controlURL>_urn:schemas-upnp-org:service:AVTransport_control</controlURL>\r\n"
    "            <eventSubURL>_urn:schemas-upnp-org:service:AVTransport_event</eventSubURL>\r\n"
    "         </service>\r\n"
    "      </serviceList>\r\n"
    "   </device>\r\n"
    "</root>\r\n";

namespace {

std::string serviceEntry(const std::string& name) {
  const std::string type = "urn:schemas-upnp-org:service:" + name;
  return "         <service>\r\n"
         "            <serviceType>" + type + ":1</serviceType>\r\n"
         "            <serviceId>urn:upnp-org:serviceId:" + name + "</serviceId>\r\n"
         "            <SCPDURL>" + name + ".scpd.xml</SCPDURL>\r\n"
         "            <controlURL>_" + type + "_control</controlURL>\r\n"
         "            <eventSubURL>_" + type + "_event</eventSubURL>\r\n"
         "         </service>\r\n";
}

}  // namespace

std::string rendererDescriptionTemplate(const std::vector<std::string>& extraServices) {
  std::string text = kRendererDescriptionTemplate;
  std::string entries;
  for (const std::string& name : extraServices) entries += serviceEntry(name);
  text.insert(text.find("      </serviceList>\r\n"), entries);
  return text;
}

namespace {

struct Argument {
  const char* name;
  const char* direction;
  const char* relatedStateVariable;
};

struct Action {
  const char* name;
  std::vector<Argument> arguments;
};

struct ValueRange {
  const char* minimum;
  const char* maximum;
  const char* step;
};

struct StateVariable {
  const char* name;
  const char* dataType;
  std::optional<const char*> defaultValue;
  std::vector<const char*> allowedValues;  // empty: no allowedValueList
  std::optional<ValueRange> allowedRange;
};

const Argument kInstanceId{"InstanceID", "in", "A_ARG_TYPE_InstanceID"};

// The actions in the order control points see them.
const std::vector<Action>& actions() {
  static const std::vector<Action> list{
      {"Seek", {kInstanceId, {"Unit", "in", "A_ARG_TYPE_SeekMode"}, {"Target", "in", "A_ARG_TYPE_SeekTarget"}}},
      {"Play", {kInstanceId, {"Speed", "in", "TransportPlaySpeed"}}},
      {"GetMediaInfo",
       {kInstanceId,
        {"NrTracks", "out", "NumberOfTracks"},
        {"MediaDuration", "out", "CurrentMediaDuration"},
        {"CurrentURI", "out", "AVTransportURI"},
        {"CurrentURIMetaData", "out", "AVTransportURIMetaData"},
        {"NextURI", "out", "NextAVTransportURI"},
        {"NextURIMetaData", "out", "NextAVTransportURIMetaData"},
        {"PlayMedium", "out", "PlaybackStorageMedium"},
        {"RecordMedium", "out", "RecordStorageMedium"},
        {"WriteStatus", "out", "RecordMediumWriteStatus"}}},
      {"Stop", {kInstanceId}},
      {"GetTransportSettings",
       {kInstanceId, {"PlayMode", "out", "CurrentPlayMode"}, {"RecQualityMode", "out", "CurrentRecordQualityMode"}}},
      {"SetRecordQualityMode", {kInstanceId, {"NewRecordQualityMode", "in", "CurrentRecordQualityMode"}}},
      {"Next", {kInstanceId}},
      {"Record", {kInstanceId}},
      {"GetTransportInfo",
       {kInstanceId,
        {"CurrentTransportState", "out", "TransportState"},
        {"CurrentTransportStatus", "out", "TransportStatus"},
        {"CurrentSpeed", "out", "TransportPlaySpeed"}}},
      {"Previous", {kInstanceId}},
      {"GetDeviceCapabilities",
       {kInstanceId,
        {"PlayMedia", "out", "PossiblePlaybackStorageMedia"},
        {"RecMedia", "out", "PossibleRecordStorageMedia"},
        {"RecQualityModes", "out", "PossibleRecordQualityModes"}}},
      {"Pause", {kInstanceId}},
      {"GetCurrentTransportActions", {kInstanceId, {"Actions", "out", "CurrentTransportActions"}}},
      {"SendMessage", {{"Message", "in", "CurrentTrackURI"}, {"ResponseMessage", "out", "CurrentTrackURI"}}},
      {"SetAVTransportURI",
       {kInstanceId, {"CurrentURI", "in", "AVTransportURI"}, {"CurrentURIMetaData", "in", "AVTransportURIMetaData"}}},
      {"GetPositionInfo",
       {kInstanceId,
        {"Track", "out", "CurrentTrack"},
        {"TrackDuration", "out", "CurrentTrackDuration"},
        {"TrackMetaData", "out", "CurrentTrackMetaData"},
        {"TrackURI", "out", "CurrentTrackURI"},
        {"RelTime", "out", "RelativeTimePosition"},
        {"AbsTime", "out", "AbsoluteTimePosition"},
        {"RelCount", "out", "RelativeCounterPosition"},
        {"AbsCount", "out", "AbsoluteCounterPosition"}}},
      {"SetNextAVTransportURI",
       {kInstanceId, {"NextURI", "in", "AVTransportURI"}, {"NextURIMetaData", "in", "AVTransportURIMetaData"}}},
      {"SetPlayMode", {kInstanceId, {"NewPlayMode", "in", "CurrentPlayMode"}}},
  };
  return list;
}

const std::vector<const char*>& storageMedia() {
  static const std::vector<const char*> list{
      "UNKNOWN",   "DV",      "MINI-DV",   "VHS",      "W-VHS",   "S-VHS",   "D-VHS",          "VHSC",
      "VIDEO8",    "HI8",     "CD-ROM",    "CD-DA",    "CD-R",    "CD-RW",   "VIDEO-CD",       "SACD",
      "M-AUDIO",   "MD-PICTURE", "DVD-ROM", "DVD-VIDEO", "DVD-R", "DVD+RW",  "DVD-RW",         "DVD-RAM",
      "DVD-AUDIO", "DAT",     "LD",        "HDD",      "MICRO_MV", "NETWORK", "NONE", "NOT_IMPLEMENTED",
      "VENDOR_SPECIFIC"};
  return list;
}

const std::vector<StateVariable>& stateVariables() {
  const std::nullopt_t none = std::nullopt;
  static const std::vector<StateVariable> list{
      {"PossibleRecordStorageMedia", "string", "NOT_IMPLEMENTED", {}, none},
      {"AbsoluteTimePosition", "string", none, {}, none},
      {"NextAVTransportURI", "string", "NOT_IMPLEMENTED", {}, none},
      {"CurrentTrackDuration", "string", none, {}, none},
      {"TransportPlaySpeed", "string", "1", {}, none},
      {"TransportState",
       "string",
       none,
       {"STOPPED", "PLAYING", "TRANSITIONING", "PAUSED_PLAYBACK", "PAUSED_RECORDING", "RECORDING",
        "NO_MEDIA_PRESENT", "CUSTOM"},
       none},
      {"PossiblePlaybackStorageMedia", "string", "NETWORK", {}, none},
      {"A_ARG_TYPE_SeekTarget", "string", none, {}, none},
      {"AVTransportURIMetaData", "string", "NOT_IMPLEMENTED", {}, none},
      {"A_ARG_TYPE_InstanceID", "ui4", none, {}, none},
      {"CurrentTrackURI", "string", none, {}, none},
      {"CurrentPlayMode",
       "string",
       "NORMAL",
       {"NORMAL", "SHUFFLE", "REPEAT_ONE", "REPEAT_ALL", "RANDOM", "DIRECT_1", "INTRO"},
       none},
      {"NumberOfTracks", "ui4", "0", {}, ValueRange{"0", "1", "1"}},
      {"RecordStorageMedium", "string", "NOT_IMPLEMENTED", storageMedia(), none},
      {"TransportStatus", "string", none, {"OK", "ERROR_OCCURRED", "CUSTOM"}, none},
      {"AVTransportURI", "string", none, {}, none},
      {"RecordMediumWriteStatus",
       "string",
       "NOT_IMPLEMENTED",
       {"WRITABLE", "PROTECTED", "NOT_WRITABLE", "UNKNOWN", "NOT_IMPLEMENTED"},
       none},
      {"CurrentTransportActions", "string", none, {}, none},
      {"PlaybackStorageMedium", "string", "NONE", storageMedia(), none},
      {"CurrentTrack", "ui4", "0", {}, ValueRange{"0", "2", "1"}},
      {"RelativeTimePosition", "string", none, {}, none},
      {"AbsoluteCounterPosition", "i4", "2147483647", {}, none},
      {"CurrentMediaDuration", "string", "00:00:00", {}, none},
      {"CurrentTrackMetaData", "string", "NOT_IMPLEMENTED", {}, none},
      {"NextAVTransportURIMetaData", "string", "NOT_IMPLEMENTED", {}, none},
      {"RelativeCounterPosition", "i4", "2147483647", {}, none},
      {"PossibleRecordQualityModes", "string", "NOT_IMPLEMENTED", {}, none},
      {"CurrentRecordQualityMode",
       "string",
       "NOT_IMPLEMENTED",
       {"0:EP", "1:LP", "2:SP", "0:BASIC", "1:MEDIUM", "2:HIGH", "NOT_IMPLEMENTED"},
       none},
      {"A_ARG_TYPE_SeekMode",
       "string",
       none,
       {"TRACK_NR", "ABS_TIME", "REL_TIME", "ABS_COUNT", "REL_COUNT", "CHANNEL_FREQ", "TAPE-INDEX", "FRAME"},
       none},
      {"LastChange", "string", none, {}, none},
  };
  return list;
}

// Writes the document's layout: one element per line, 3 spaces per level
// below the root, an element with text on one line, every line ended by LF.
class XmlLines {
 public:
  void line(const std::string& text) { text_.append(3 * level_, ' ').append(text).append("\n"); }
  void open(const std::string& tag, const std::string& attributes = std::string()) {
    line("<" + tag + attributes + ">");
    ++level_;
  }
  void close(const std::string& tag) {
    --level_;
    line("</" + tag + ">");
  }
  void leaf(const std::string& tag, const std::string& text) { line("<" + tag + ">" + text + "</" + tag + ">"); }
  // Children of the root sit one level in, the root itself in column 1.
  void openRoot(const std::string& startTag) {
    line(startTag);
    level_ = 1;
  }
  void closeRoot(const std::string& endTag) {
    level_ = 0;
    line(endTag);
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  size_t level_ = 0;
};

std::string buildServiceDescription() {
  XmlLines xml;
  xml.line("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  xml.openRoot("<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">");
  xml.open("specVersion");
  xml.leaf("major", "1");
  xml.leaf("minor", "0");
  xml.close("specVersion");

  xml.open("actionList");
  for (const Action& action : actions()) {
    xml.open("action");
    xml.leaf("name", action.name);
    xml.open("argumentList");
    for (const Argument& argument : action.arguments) {
      xml.open("argument");
      xml.leaf("name", argument.name);
      xml.leaf("direction", argument.direction);
      xml.leaf("relatedStateVariable", argument.relatedStateVariable);
      xml.close("argument");
    }
    xml.close("argumentList");
    xml.close("action");
  }
  xml.close("actionList");

  xml.open("serviceStateTable");
  for (const StateVariable& variable : stateVariables()) {
    // Only LastChange is evented; the renderer sends no events at all.
    const bool evented = std::string(variable.name) == "LastChange";
    xml.open("stateVariable", std::string(" sendEvents=\"") + (evented ? "yes" : "no") + "\"");
    xml.leaf("name", variable.name);
    xml.leaf("dataType", variable.dataType);
    if (variable.defaultValue) xml.leaf("defaultValue", *variable.defaultValue);
    if (!variable.allowedValues.empty()) {
      xml.open("allowedValueList");
      for (const char* value : variable.allowedValues) xml.leaf("allowedValue", value);
      xml.close("allowedValueList");
    } else if (variable.allowedRange) {
      xml.open("allowedValueRange");
      xml.leaf("minimum", variable.allowedRange->minimum);
      xml.leaf("maximum", variable.allowedRange->maximum);
      xml.leaf("step", variable.allowedRange->step);
      xml.close("allowedValueRange");
    }
    xml.close("stateVariable");
  }
  xml.close("serviceStateTable");
  xml.closeRoot("</scpd>");
  return xml.text();
}

}  // namespace

const std::string& rendererServiceDescription() {
  static const std::string text = buildServiceDescription();
  return text;
}

}  // namespace tavrin
