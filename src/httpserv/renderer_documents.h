#pragma once
// The two fixed documents through which the sniffing renderer presents itself
// to control points: what a phone app reads in them decides whether it offers
// the renderer as a cast target and where it posts its actions.
#include <string>
#include <vector>

namespace tavrin {

// The device description, 29 lines each ended by CR LF: a MediaRenderer with
// the one AVTransport service and the fixed UDN "uuid:KQVDKQVDKQVD" (which the
// SSDP answer repeats). "[ip]" takes the renderer's "address:port" (URLBase),
// "[NAME]" its friendly name. The manufacturer's and the model's web address
// is a reserved name that belongs to nobody.
extern const char kRendererDescriptionTemplate[];

// The same template with more services listed after AVTransport, each in
// AVTransport's style: for the name N the type
// "urn:schemas-upnp-org:service:N:1", the id "urn:upnp-org:serviceId:N",
// "N.scpd.xml", "_urn:schemas-upnp-org:service:N_control" and "..._event".
std::string rendererDescriptionTemplate(const std::vector<std::string>& extraServices);

// The AVTransport service description, served unchanged: ASCII, lines ended
// by LF alone. Made once from the action and state-variable tables.
const std::string& rendererServiceDescription();

}  // namespace tavrin
