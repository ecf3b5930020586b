#pragma once
#include <string>

namespace tavrin {

// The host of a URL, lower-cased, with ":port" when keepPort is set. A URL
// without a scheme is taken as http.
std::string urlHost(const std::string& url, bool keepPort);

// The port named in the URL, else 443 for https and 80 otherwise.
int urlPort(const std::string& url);

// The object path of the request line: from the first "/" behind the host to
// the end, in the URL's own case, query and fragment included; "/" when none.
std::string urlPath(const std::string& url);

}  // namespace tavrin
