#include "control/soap_action.h"

#include "httpclient/http_request.h"
#include "platform/gbk_text.h"
#include "platform/key_value_map.h"
#include "platform/placeholders.h"
#include "platform/text_encoding.h"
#include "platform/xml_document.h"

namespace tavrin {
namespace {

const char kEnvelopeTemplate[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
    "  <s:Body>\r\n"
    "    <u:[action] xmlns:u=\"[deviceType]\">\r\n"
    "      [xmldata]\r\n"
    "    </u:[action]>\r\n"
    "  </s:Body>\r\n"
    "</s:Envelope>";

const char kHeaderTemplate[] =
    "SOAPAction: \"[type]#[fs]\"\r\n"
    "User-Agent: UPnP/1.0 DLNADOC/1.50 Platinum/1.0.5.13\r\n"
    "Content-Type: text/xml; charset=\"utf-8\"";

const char kResponseElement[] = "s:Envelope/s:Body/@1";

}  // namespace

std::string controlRequestUrl(const std::string& baseUrl, const std::string& controlUrl) {
  std::string path = controlUrl.compare(0, 1, "/") == 0 ? controlUrl : "/" + controlUrl;
  // Many descriptions write URLBase with a trailing "/"; a path with "//"
  // is answered with garbage by some renderers.
  if (!baseUrl.empty() && baseUrl.back() == '/') path.erase(0, 1);
  return baseUrl + path;
}

std::string buildSoapEnvelope(const std::string& serviceType, const std::string& actionName,
                              const std::string& argumentsJson) {
  KeyValueMap arguments;
  arguments.fromJson(argumentsJson);
  std::string elements;
  for (const std::string& key : arguments.getKeys(KeyValueMap::kInsertionOrder)) {
    elements += "<" + key + ">" + arguments.getText(key) + "</" + key + ">\r\n";
  }
  return replacePlaceholders(kEnvelopeTemplate,
                             {{"[deviceType]", serviceType}, {"[action]", actionName}, {"[xmldata]", elements}});
}

std::string buildSoapHeaders(const std::string& serviceType, const std::string& actionName) {
  return replacePlaceholders(kHeaderTemplate, {{"[type]", serviceType}, {"[fs]", actionName}});
}

std::string sendSoapAction(const std::string& baseUrl, const std::string& controlUrl,
                           const std::string& serviceType, const std::string& actionName,
                           const std::string& argumentsJson) {
  HttpExchange exchange;
  exchange.method = kHttpPost;
  // The envelope says utf-8, so it goes out as UTF-8.
  exchange.body = gbkToUtf8(buildSoapEnvelope(serviceType, actionName, argumentsJson));
  exchange.headers = buildSoapHeaders(serviceType, actionName);
  return httpRequest(controlRequestUrl(baseUrl, controlUrl), exchange);
}

std::string parseSoapResponse(const std::string& responseBody, const std::string& actionName) {
  XmlDocument answer;
  // Answers are UTF-8 like descriptions, and are read as the program's texts.
  answer.loadBytes(utf8ToGbk(responseBody));
  std::string name = answer.nodeName(kResponseElement);
  size_t colon = name.rfind(':');
  std::string local = colon == std::string::npos ? std::string() : toUpperAscii(name.substr(colon + 1));

  KeyValueMap data;
  int children = answer.childCount(kResponseElement);
  for (int i = 1; i <= children; ++i) {
    std::string child = std::string(kResponseElement) + "/@" + std::to_string(i);
    data.setText(answer.nodeName(child), answer.nodeText(child));
  }
  bool check = toUpperAscii(actionName + "Response") == local;
  return KeyValueMap::createMapFromPairs({{"check", check}, {"data", data}}).toJson();
}

}  // namespace tavrin
