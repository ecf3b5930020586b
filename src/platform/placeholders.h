#pragma once
#include <initializer_list>
#include <string>
#include <utility>

namespace tavrin {

using Placeholder = std::pair<std::string, std::string>;

// Fills a template: each pair in turn replaces every occurrence of its
// placeholder, compared without regard to ASCII case, by its value, which is
// inserted as it is. An empty placeholder changes nothing.
std::string replacePlaceholders(std::string text, std::initializer_list<Placeholder> pairs);

}  // namespace tavrin
