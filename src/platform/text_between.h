#pragma once
#include <string>

namespace tavrin {

// The text between the first `start` marker at or after `position` (counted
// from 1) and the next `end` marker behind it; empty when either is missing.
// "#引号" in a marker stands for a double-quote character.
std::string textBetween(const std::string& text, const std::string& start, const std::string& end,
                        int position = 1, bool ignoreCase = false);

}  // namespace tavrin
