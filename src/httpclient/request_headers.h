#pragma once
#include <string>

namespace tavrin {

// The agent a request announces: taken from a User-Agent line of the header
// block when there is one, else the program's default agent.
std::string requestAgent(const std::string& headers);

// The header block completed with the defaults the program always sends, in
// this order: Accept, Referer (the URL), Accept-Language, Content-Type, and
// the Cookie line when cookies are given. Lines are separated by CR LF.
std::string completeRequestHeaders(const std::string& headers, const std::string& url,
                                   const std::string& cookies);

}  // namespace tavrin
