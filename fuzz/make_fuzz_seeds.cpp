// Writes the seed corpora of the fuzz targets: SEEDS_DIR/<target>/<label>,
// each file in the layout its target reads (see the comment at the top of
// each *_fuzzer.cpp). The samples are the tests' own: the fixture
// renderer's datagrams, descriptions and SOAP answers, and the texts the
// program itself builds (its search, its renderer's documents, SOAP
// envelopes and answers, device records).
//
// Usage: make_fuzz_seeds SEEDS_DIR
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "control/soap_action.h"
#include "fixtures/fixture_renderer_documents.h"
#include "fuzz_support.h"
#include "httpserv/renderer_documents.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/key_value_list.h"
#include "platform/key_value_map.h"
#include "platform/placeholders.h"
#include "platform/text_encoding.h"
#include "platform/xml_escape.h"
#include "ssdp/ssdp_messages.h"

namespace tavrin {
namespace {

using fuzz::providerPiece;
using testing::FixtureDevice;
using testing::FixtureProfile;

const char kAvTransport[] = "urn:schemas-upnp-org:service:AVTransport:1";

class SeedWriter {
 public:
  explicit SeedWriter(std::string dir) : dir_(std::move(dir)) { ::mkdir(dir_.c_str(), 0755); }

  bool write(const std::string& target, const std::string& label, const std::string& bytes) {
    const std::string folder = dir_ + "/" + target;
    ::mkdir(folder.c_str(), 0755);
    std::ofstream file(folder + "/" + label, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ok_ = ok_ && static_cast<bool>(file);
    ++written_;
    return ok_;
  }
  bool ok() const { return ok_; }
  int written() const { return written_; }

 private:
  std::string dir_;
  bool ok_ = true;
  int written_ = 0;
};

// The body of a whole HTTP answer.
std::string bodyOf(const std::string& answer) {
  const size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? answer : answer.substr(end + 4);
}

// The devices the fixture renderer plays that have whole descriptions of a
// seed's size (not the 100,000 services or a million levels).
std::vector<FixtureDevice> fixtureDevices() {
  std::vector<FixtureDevice> devices;
  int index = 1;
  for (FixtureProfile profile : {FixtureProfile::Dlna, FixtureProfile::UrlBase, FixtureProfile::Plain,
                                 FixtureProfile::ShortUsn, FixtureProfile::Malformed, FixtureProfile::CmAvtRc,
                                 FixtureProfile::Avt2, FixtureProfile::NoTransport}) {
    devices.push_back(testing::makeFixtureDevice(profile, index++, "seed", "10.77.0.2", 8080, 1));
  }
  return devices;
}

std::string descriptionOf(const FixtureDevice& device) {
  return testing::fixtureDescription(device, "http://10.77.0.2:8080/");
}

// SOAP answers as renderers send them (UTF-8 bodies).
std::vector<std::string> soapAnswers() {
  return {
      bodyOf(testing::soapActionAnswer(kAvTransport, "GetMediaInfo",
                                       "<NrTracks>1</NrTracks><CurrentURI>" +
                                           testing::escapeXml("http://10.77.0.9/电影.m3u8?a=1&b=2") +
                                           "</CurrentURI><CurrentURIMetaData></CurrentURIMetaData>")),
      bodyOf(testing::soapActionAnswer(kAvTransport, "Play", "")),
      bodyOf(testing::soapActionAnswer("urn:schemas-upnp-org:service:AVTransport:2", "SetAVTransportURI", "")),
      bodyOf(testing::soapFaultAnswer(718, "Invalid InstanceID")),
      gbkToUtf8(buildActionResponse(
          "GetMediaInfo", kAvTransport,
          KeyValueMap::createMapFromPairs({{"NrTracks", "0"}, {"CurrentURI", "http://x/a.mp4?x=1&amp;y=2"}})
              .toJson())),
      gbkToUtf8(buildActionResponse("GetTransportInfo", kAvTransport,
                                    KeyValueMap::createMapFromPairs({{"CurrentTransportState", "PLAYING"},
                                                                     {"CurrentTransportStatus", "OK"},
                                                                     {"CurrentSpeed", "1"}})
                                        .toJson())),
  };
}

// Control requests as a phone app posts them: the control point's own
// envelopes (UTF-8 on the wire).
std::vector<std::pair<std::string, std::string>> controlRequests() {
  const std::string setUri = KeyValueMap::createMapFromPairs(
                                 {{"InstanceID", 0},
                                  {"CurrentURI", escapeXmlChars(utf8ToGbk("http://10.77.0.3:8000/视频.m3u8?a=1&b=2"))},
                                  {"CurrentURIMetaData", escapeXmlChars("<DIDL-Lite></DIDL-Lite>")}})
                                 .toJson();
  const std::string instance = KeyValueMap::createMapFromPairs({{"InstanceID", 0}}).toJson();
  std::vector<std::pair<std::string, std::string>> requests;
  requests.emplace_back("SetAVTransportURI", setUri);
  requests.emplace_back("Play", KeyValueMap::createMapFromPairs({{"InstanceID", 0}, {"Speed", "1"}}).toJson());
  for (const char* action : {"GetMediaInfo", "GetPositionInfo", "GetTransportInfo", "Stop"}) {
    requests.emplace_back(action, instance);
  }
  return requests;
}

std::string envelope(const std::pair<std::string, std::string>& request) {
  return gbkToUtf8(buildSoapEnvelope(kAvTransport, request.first, request.second));
}

void ssdpSeeds(SeedWriter& seeds) {
  const std::string target = "ssdp_datagram_fuzzer";
  for (const FixtureDevice& device : fixtureDevices()) {
    const std::string description = descriptionOf(device);
    const std::string tag = std::to_string(device.index);
    seeds.write(target, "answer-" + tag, providerPiece(testing::ssdpSearchAnswer(device)) + description + '\0');
    seeds.write(target, "notify-" + tag, providerPiece(testing::ssdpNotify(device, true)) + description + '\1');
  }
  FixtureDevice known = fixtureDevices()[0];
  known.usn = "uuid:known::upnp:rootdevice";
  seeds.write(target, "known", providerPiece(testing::ssdpSearchAnswer(known)) + descriptionOf(known) + '\1');
  for (const char* kind : {"garbage", "lfonly", "headers10000", "empty", "zero", "manylines"}) {
    bool ok = false;
    const std::string datagram = testing::hostileDatagram(kind, known, ok);
    if (ok) seeds.write(target, std::string("hostile-") + kind, providerPiece(datagram) + descriptionOf(known) + '\0');
  }
  seeds.write(target, "search", providerPiece(buildSearchDatagram()) + '\0');
  seeds.write(target, "own-answer", providerPiece(buildSearchAnswer("10.77.0.1:18889")) +
                                        rendererDescriptionTemplate({"ConnectionManager"}) + '\0');
}

void urlSeeds(SeedWriter& seeds) {
  const std::string target = "url_parts_fuzzer";
  const std::string headers =
      "HTTP/1.1 200 OK\r\nSet-Cookie: sid=7f; Path=/\r\nSet-Cookie: lang=zh\r\nSet-Cookie: old=deleted\r\n\r\n";
  int n = 0;
  for (const FixtureDevice& device : fixtureDevices()) {
    seeds.write(target, "location-" + std::to_string(++n),
                providerPiece(device.location) + providerPiece(testing::fixtureControlPath(device.index, "avt")) +
                    headers);
  }
  seeds.write(target, "https", providerPiece("HTTPS://Tv.Example:8443/upnp/desc.xml?x=1#f") +
                                   providerPiece("sid=1; lang=en; old=2") + headers);
  seeds.write(target, "no-scheme", providerPiece("10.0.0.7:18889") +
                                       providerPiece("/_urn:schemas-upnp-org:service:AVTransport_control") + "a=1;;b=deleted");
  seeds.write(target, "urlbase", providerPiece("http://10.77.0.2:8080/") + providerPiece("ctl") + "");
}

void textSeeds(SeedWriter& seeds) {
  const std::string target = "text_utils_fuzzer";
  const std::string body = envelope(controlRequests()[0]);
  seeds.write(target, "current-uri",
              providerPiece("<CurrentURI>") + providerPiece("</CurrentURI>") + utf8ToGbk(body) + '\1' + '\0');
  seeds.write(target, "action-name",
              providerPiece("<u:") + providerPiece("xmlns") + utf8ToGbk(body) + '\1' + '\1');
  seeds.write(target, "template", providerPiece("[NAME]") + providerPiece(utf8ToGbk("客厅&<电视>")) +
                                      kRendererDescriptionTemplate + '\0' + '\0');
  seeds.write(target, "quote-marker", providerPiece(utf8ToGbk("=#引号")) + providerPiece(utf8ToGbk("#引号")) +
                                          "<a href=\"http://x/\" id=\"1\">&amp;lt;&quot;&apos;</a>" + '\0' + '\3');
  seeds.write(target, "gbk", providerPiece(utf8ToGbk("乗俓")) + providerPiece(utf8ToGbk("刓")) +
                                 utf8ToGbk("　乗俓僜刓匼哱嘰　") + '\0' + '\0');
}

void xmlSeeds(SeedWriter& seeds) {
  const std::string target = "xml_document_fuzzer";
  const std::string descriptionPaths = "root/device/serviceList/@2/controlURL\nroot/device/@3\nroot/@1/@1\nroot";
  for (const FixtureDevice& device : fixtureDevices()) {
    seeds.write(target, "description-" + std::to_string(device.index),
                providerPiece(descriptionPaths) + descriptionOf(device) + '\0');
  }
  const std::string soapPaths = "s:Envelope/s:Body/@1/@2\ns:Envelope/@1/@1/CurrentURI";
  int n = 0;
  for (const std::string& answer : soapAnswers()) {
    seeds.write(target, "soap-" + std::to_string(++n), providerPiece(soapPaths) + answer + '\0');
  }
  seeds.write(target, "renderer-description",
              providerPiece("root/device/serviceList/@1/SCPDURL") +
                  replacePlaceholders(kRendererDescriptionTemplate, {{"[ip]", "10.77.0.1:18889"}, {"[NAME]", "TV"}}) +
                  '\1');
  seeds.write(target, "service-description",
              providerPiece("scpd/actionList/@1/name\nscpd/serviceStateTable/@2/allowedValueList/@1") +
                  rendererServiceDescription() + '\1');
  seeds.write(target, "references", providerPiece("a\na/@1\na/b") +
                                        "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;&#x5BA2;&#23458;&#0;&lt;<![CDATA[&amp;]]>"
                                        "<!-- c --><b>t</b></a>" + '\0');
}

void soapSeeds(SeedWriter& seeds) {
  const std::string target = "soap_response_fuzzer";
  const char* const actions[] = {"GetMediaInfo", "Play", "SetAVTransportURI", "Play", "GetMediaInfo",
                                 "GetTransportInfo"};
  int n = 0;
  for (const std::string& answer : soapAnswers()) {
    const char* action = actions[n % 6];
    ++n;
    seeds.write(target, "answer-" + std::to_string(n), providerPiece(action) + answer + static_cast<char>(n & 1));
  }
}

void rendererSeeds(SeedWriter& seeds) {
  const std::string target = "sniffing_renderer_fuzzer";
  const std::string soapAction = std::string("\"") + kAvTransport + "#";
  for (const auto& request : controlRequests()) {
    seeds.write(target, "control-" + request.first,
                providerPiece("") + providerPiece(soapAction + request.first + "\"") +
                    providerPiece("http://10.77.0.3/last.mp4?a=1&amp;b=2") + envelope(request) + '\2');
  }
  seeds.write(target, "description", providerPiece("") + providerPiece("") + providerPiece("") + "" + '\0');
  seeds.write(target, "other-route", providerPiece("/description.xml?x=1") + providerPiece("") +
                                          providerPiece("") + envelope(controlRequests()[0]) + '\5');
  seeds.write(target, "connection-manager", providerPiece("") + providerPiece("") + providerPiece("") +
                                                envelope(controlRequests()[0]) + '\3');
}

std::string deviceRecordJson(const std::string& name) {
  KeyValueList services;
  for (const char* kind : {"AVTransport", "ConnectionManager"}) {
    services.appendMap(KeyValueMap::createMapFromPairs({
        {"serviceId", std::string("urn:upnp-org:serviceId:") + kind},
        {"SCPDURL", std::string("/") + kind + ".xml"},
        {"serviceType", std::string("urn:schemas-upnp-org:service:") + kind + ":1"},
        {"controlURL", std::string("/") + kind + "/control"},
    }));
  }
  return KeyValueMap::createMapFromPairs(
             {{"uuid", "5f9ec1b3-ed59"}, {"name", name}, {"url", "http://192.168.1.20:49152"}, {"service", services}})
      .toJson();
}

void keyValueSeeds(SeedWriter& seeds) {
  const std::string target = "key_value_map_fuzzer";
  const std::string paths = "//service[1].serviceType\n//service[2]\nname\n//a.b.c\n//service[3].x\n//data.CurrentURI";
  seeds.write(target, "device-record", providerPiece(paths) + deviceRecordJson(utf8ToGbk("客厅电视")) + '\0');
  seeds.write(target, "hostile-name", providerPiece(paths) + deviceRecordJson(utf8ToGbk("乗\"俓\\n")) + '\1');
  int n = 0;
  for (const std::string& answer : soapAnswers()) {
    ++n;
    seeds.write(target, "action-result-" + std::to_string(n),
                providerPiece(paths) + parseSoapResponse(answer, "GetMediaInfo") + static_cast<char>(n));
  }
  seeds.write(target, "numbers", providerPiece("//a[2]\n//a[1].b\n//c") +
                                     R"({"a":[1,{"b":-0},1.5e300,12345678901234567890],"c":null,"d":"\u5ba2\ud83d\ude00"})" +
                                     '\2');
}

void jsonObjectSeeds(SeedWriter& seeds) {
  const std::string target = "json_object_fuzzer";
  const std::string values[] = {
      "it's \"quoted\"", "C:\\dir\\file\\", "</script><script>alert(1)</script>", "line\nbreak\rtab\tend",
      "'+(da=null)+'", utf8ToGbk("乗俓僜刓匼哱嘰"), utf8ToGbk("客厅电视"), std::string("zero\0byte", 9),
  };
  int n = 0;
  for (const std::string& value : values) {
    ++n;
    seeds.write(target, "values-" + std::to_string(n),
                providerPiece("5f9ec1b3") + providerPiece(value) + providerPiece("http://192.168.1.20:49152") +
                    providerPiece(kAvTransport) + providerPiece("/AVTransport/control") + value +
                    static_cast<char>(n));
  }
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds SEEDS_DIR\n");
    return 2;
  }
  tavrin::SeedWriter seeds(argv[1]);
  tavrin::ssdpSeeds(seeds);
  tavrin::urlSeeds(seeds);
  tavrin::textSeeds(seeds);
  tavrin::xmlSeeds(seeds);
  tavrin::soapSeeds(seeds);
  tavrin::rendererSeeds(seeds);
  tavrin::keyValueSeeds(seeds);
  tavrin::jsonObjectSeeds(seeds);
  if (!seeds.ok()) {
    std::fprintf(stderr, "make_fuzz_seeds: cannot write into %s\n", argv[1]);
    return 1;
  }
  std::printf("make_fuzz_seeds: %d seeds in %s\n", seeds.written(), argv[1]);
  return 0;
}
