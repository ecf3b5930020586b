#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "httpserv/renderer_documents.h"
#include "platform/placeholders.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

TEST(RendererDescription, FilledTemplateIsTheWholeDocument) {
  const std::string name = utf8ToGbk("Morla小站");
  const std::string filled =
      replacePlaceholders(kRendererDescriptionTemplate, {{"[ip]", "10.0.0.7:18889"}, {"[NAME]", name}});
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n"
      "   <specVersion>\r\n"
      "      <major>1</major>\r\n"
      "      <minor>0</minor>\r\n"
      "   </specVersion>\r\n"
      "   <URLBase>http://10.0.0.7:18889</URLBase>\r\n"
      "   <device>\r\n"
      "      <deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>\r\n"
      "      <friendlyName>" + name + "</friendlyName>\r\n"
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
  EXPECT_EQ(filled, expected);

  // The template itself: 29 CR LF lines, one of each placeholder.
  const std::string raw = kRendererDescriptionTemplate;
  size_t lines = 0;
  for (size_t at = raw.find("\r\n"); at != std::string::npos; at = raw.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 29u);
  EXPECT_EQ(raw.find('\n'), raw.find("\r\n") + 1);
  EXPECT_NE(raw.find("<URLBase>http://[ip]</URLBase>"), std::string::npos);
  EXPECT_NE(raw.find("<friendlyName>[NAME]</friendlyName>"), std::string::npos);
}

// More services follow AVTransport in its very style; none added leaves the
// template as it is.
TEST(RendererDescription, ExtraServicesFollowAvTransportInItsStyle) {
  EXPECT_EQ(rendererDescriptionTemplate({}), kRendererDescriptionTemplate);

  const std::string twice = rendererDescriptionTemplate({"AVTransport"});
  const std::string entryStart = "         <service>\r\n";
  const std::string entryEnd = "         </service>\r\n";
  const size_t first = twice.find(entryStart);
  const size_t second = twice.find(entryStart, first + 1);
  ASSERT_NE(second, std::string::npos);
  const std::string firstEntry = twice.substr(first, twice.find(entryEnd, first) + entryEnd.size() - first);
  EXPECT_EQ(twice.substr(second, firstEntry.size()), firstEntry);
  EXPECT_EQ(second, first + firstEntry.size());

  const std::string withTwo = rendererDescriptionTemplate({"ConnectionManager", "RenderingControl"});
  const std::string connectionManager =
      "         <service>\r\n"
      "            <serviceType>urn:schemas-upnp-org:service:ConnectionManager:1</serviceType>\r\n"
      "            <serviceId>urn:upnp-org:serviceId:ConnectionManager</serviceId>\r\n"
      "            <SCPDURL>ConnectionManager.scpd.xml</SCPDURL>\r\n"
      "            <controlURL>_urn:schemas-upnp-org:service:ConnectionManager_control</controlURL>\r\n"
      "            <eventSubURL>_urn:schemas-upnp-org:service:ConnectionManager_event</eventSubURL>\r\n"
      "         </service>\r\n";
  const size_t cm = withTwo.find(connectionManager);
  ASSERT_NE(cm, std::string::npos);
  EXPECT_EQ(cm, first + firstEntry.size());
  EXPECT_EQ(withTwo.find("<serviceType>urn:schemas-upnp-org:service:RenderingControl:1</serviceType>"),
            cm + connectionManager.size() + entryStart.size() + 12);
  EXPECT_EQ(withTwo.substr(withTwo.size() - 40), std::string(kRendererDescriptionTemplate).substr(
                                                     std::string(kRendererDescriptionTemplate).size() - 40));
}

class ServiceDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(document_.load_buffer(text_.data(), text_.size())) << "not well-formed";
    root_ = document_.child("scpd");
  }

  const std::string& text_ = rendererServiceDescription();
  pugi::xml_document document_;
  pugi::xml_node root_;
};

TEST_F(ServiceDescription, SizeLinesAndEnds) {
  EXPECT_EQ(text_.size(), 24578u);
  EXPECT_EQ(std::count(text_.begin(), text_.end(), '\n'), 639);
  EXPECT_EQ(text_.find('\r'), std::string::npos);
  for (unsigned char c : text_) ASSERT_LT(c, 0x80u);
  EXPECT_EQ(text_.substr(0, text_.find('\n') + 1), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
  EXPECT_EQ(text_.substr(text_.find('\n') + 1, 48), "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">\n");
  ASSERT_GE(text_.size(), 8u);
  EXPECT_EQ(text_.substr(text_.size() - 8), "</scpd>\n");
  EXPECT_EQ(text_.substr(text_.size() - 9, 1), "\n");
}

TEST_F(ServiceDescription, LayoutOfAnActionAndOfAStateVariableWithARange) {
  const std::string play =
      "      <action>\n"
      "         <name>Play</name>\n"
      "         <argumentList>\n"
      "            <argument>\n"
      "               <name>InstanceID</name>\n"
      "               <direction>in</direction>\n"
      "               <relatedStateVariable>A_ARG_TYPE_InstanceID</relatedStateVariable>\n"
      "            </argument>\n"
      "            <argument>\n"
      "               <name>Speed</name>\n"
      "               <direction>in</direction>\n"
      "               <relatedStateVariable>TransportPlaySpeed</relatedStateVariable>\n"
      "            </argument>\n"
      "         </argumentList>\n"
      "      </action>\n"
      "      <action>\n"
      "         <name>GetMediaInfo</name>\n";
  EXPECT_NE(text_.find(play), std::string::npos);
  const std::string tracks =
      "      <stateVariable sendEvents=\"no\">\n"
      "         <name>NumberOfTracks</name>\n"
      "         <dataType>ui4</dataType>\n"
      "         <defaultValue>0</defaultValue>\n"
      "         <allowedValueRange>\n"
      "            <minimum>0</minimum>\n"
      "            <maximum>1</maximum>\n"
      "            <step>1</step>\n"
      "         </allowedValueRange>\n"
      "      </stateVariable>\n";
  EXPECT_NE(text_.find(tracks), std::string::npos);
  EXPECT_NE(text_.find("   </actionList>\n   <serviceStateTable>\n"), std::string::npos);
  EXPECT_NE(text_.find("   <specVersion>\n      <major>1</major>\n      <minor>0</minor>\n   </specVersion>\n"),
            std::string::npos);
}

TEST_F(ServiceDescription, ActionsAndStateVariables) {
  std::vector<std::string> actions;
  std::vector<std::string> withoutInstanceId;
  std::set<std::string> related;
  for (pugi::xml_node action : root_.child("actionList").children("action")) {
    actions.push_back(action.child_value("name"));
    const pugi::xml_node first = action.child("argumentList").child("argument");
    if (std::string(first.child_value("name")) != "InstanceID") withoutInstanceId.push_back(actions.back());
    for (pugi::xml_node argument : action.child("argumentList").children("argument")) {
      related.insert(argument.child_value("relatedStateVariable"));
    }
  }
  EXPECT_EQ(actions, (std::vector<std::string>{
                         "Seek", "Play", "GetMediaInfo", "Stop", "GetTransportSettings", "SetRecordQualityMode",
                         "Next", "Record", "GetTransportInfo", "Previous", "GetDeviceCapabilities", "Pause",
                         "GetCurrentTransportActions", "SendMessage", "SetAVTransportURI", "GetPositionInfo",
                         "SetNextAVTransportURI", "SetPlayMode"}));
  EXPECT_EQ(withoutInstanceId, std::vector<std::string>{"SendMessage"});

  std::vector<std::string> evented;
  std::set<std::string> declared;
  int variables = 0;
  for (pugi::xml_node variable : root_.child("serviceStateTable").children("stateVariable")) {
    ++variables;
    declared.insert(variable.child_value("name"));
    if (std::string(variable.attribute("sendEvents").value()) == "yes") evented.push_back(variable.child_value("name"));
    else EXPECT_STREQ(variable.attribute("sendEvents").value(), "no");
  }
  EXPECT_EQ(variables, 30);
  EXPECT_EQ(evented, std::vector<std::string>{"LastChange"});
  // Every argument refers to a variable the table declares.
  for (const std::string& name : related) EXPECT_EQ(declared.count(name), 1u) << name;
}

TEST_F(ServiceDescription, StorageMediumListsAndTheOutArgumentsOfTheAnsweredQueries) {
  auto allowed = [&](const std::string& variable) {
    std::vector<std::string> values;
    for (pugi::xml_node node : root_.child("serviceStateTable").children("stateVariable")) {
      if (variable != node.child_value("name")) continue;
      for (pugi::xml_node value : node.child("allowedValueList").children("allowedValue")) {
        values.push_back(value.child_value());
      }
    }
    return values;
  };
  const std::vector<std::string> media = allowed("PlaybackStorageMedium");
  ASSERT_EQ(media.size(), 33u);
  EXPECT_EQ(media.front(), "UNKNOWN");
  EXPECT_EQ(media[21], "DVD+RW");
  EXPECT_EQ(media.back(), "VENDOR_SPECIFIC");
  EXPECT_EQ(allowed("RecordStorageMedium"), media);
  EXPECT_EQ(allowed("TransportStatus"), (std::vector<std::string>{"OK", "ERROR_OCCURRED", "CUSTOM"}));

  // The renderer answers GetMediaInfo and GetTransportInfo with their
  // out-arguments in this order.
  auto outArguments = [&](const std::string& action) {
    std::vector<std::string> names;
    pugi::xml_node node = root_.child("actionList").find_child([&](pugi::xml_node a) {
      return action == a.child_value("name");
    });
    for (pugi::xml_node argument : node.child("argumentList").children("argument")) {
      if (std::string(argument.child_value("direction")) == "out") names.push_back(argument.child_value("name"));
    }
    return names;
  };
  EXPECT_EQ(outArguments("GetMediaInfo"),
            (std::vector<std::string>{"NrTracks", "MediaDuration", "CurrentURI", "CurrentURIMetaData", "NextURI",
                                      "NextURIMetaData", "PlayMedium", "RecordMedium", "WriteStatus"}));
  EXPECT_EQ(outArguments("GetTransportInfo"),
            (std::vector<std::string>{"CurrentTransportState", "CurrentTransportStatus", "CurrentSpeed"}));
}

}  // namespace
}  // namespace tavrin
