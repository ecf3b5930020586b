#pragma once
#include <string>

namespace tavrin {

// The cookies a raw response header block sets, as "name=value; name=value":
// the attributes after the first ";" of each Set-Cookie line are dropped.
std::string collectSetCookies(const std::string& rawHeaders);

// The cookies the server set, followed by the sent ones it did not set again;
// cookies the server deleted (value "deleted") disappear; no item twice.
std::string mergeCookies(const std::string& sent, const std::string& received);

}  // namespace tavrin
