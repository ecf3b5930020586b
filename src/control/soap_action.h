#pragma once
// One UPnP action as a SOAP request, and its answer read into an
// ActionResult: the compact JSON {"check": <the answer is the action's
// response>, "data": {<child name>: <text>, ...}}.
#include <string>

namespace tavrin {

// The request URL: the base URL and the control path joined by one "/".
std::string controlRequestUrl(const std::string& baseUrl, const std::string& controlUrl);

// The envelope of the action with the arguments of argumentsJson (a JSON
// object, members in order), as the program's GBK text.
std::string buildSoapEnvelope(const std::string& serviceType, const std::string& actionName,
                              const std::string& argumentsJson);

// The header block: SOAPAction, User-Agent and Content-Type lines.
std::string buildSoapHeaders(const std::string& serviceType, const std::string& actionName);

// Posts the action and returns the answer body; empty when nothing came.
std::string sendSoapAction(const std::string& baseUrl, const std::string& controlUrl,
                           const std::string& serviceType, const std::string& actionName,
                           const std::string& argumentsJson);

// The ActionResult of an answer body.
std::string parseSoapResponse(const std::string& responseBody, const std::string& actionName);

}  // namespace tavrin
