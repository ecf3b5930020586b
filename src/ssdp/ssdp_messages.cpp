#include "ssdp/ssdp_messages.h"

#include "platform/text_encoding.h"

namespace tavrin {
namespace {

const char kSearchDatagram[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "MX: 5\r\n"
    "ST: upnp:rootdevice\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "User-Agent: UPnP/1.0 DLNADOC/1.50 Platinum/1.0.5.13\r\n"
    "Connection: close\r\n"
    "Host: 239.255.255.250:1900\r\n"
    // The empty line that ends an HTTP message: libupnp and GUPnP renderers
    // ignore a search without it.
    "\r\n";

const char kAnswerTemplate[] =
    "HTTP/1.1 200 OK\r\n"
    "ST: upnp:rootdevice\r\n"
    "USN: uuid:KQVDKQVDKQVD::upnp:rootdevice\r\n"
    "Location: http://[ip]/description.xml\r\n"
    "OPT:\"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
    "Cache-Control: max-age=1800\r\n"
    "Server: Microsoft-Windows/10.0 UPnP/1.0 UPnP-Device-Host/1.0\r\n"
    "Ext: \r\n"
    "\r\n";

}  // namespace

std::string buildSearchDatagram() { return kSearchDatagram; }

std::string buildSearchAnswer(const std::string& rendererAddress) {
  std::string answer = kAnswerTemplate;
  // "[ip]" is replaced where it is written exactly so.
  for (size_t at = answer.find("[ip]"); at != std::string::npos; at = answer.find("[ip]", at)) {
    answer.replace(at, 4, rendererAddress);
    at += rendererAddress.size();
  }
  return encodeUtf8WithZero(answer);
}


}  // namespace tavrin
