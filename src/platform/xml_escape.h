#pragma once
#include <string>

namespace tavrin {

// The five XML special characters as entities, and back. No other entity or
// character reference is touched; an "&" that already begins an entity is
// escaped again.
std::string escapeXmlChars(const std::string& text);
std::string unescapeXmlChars(const std::string& text);

}  // namespace tavrin
