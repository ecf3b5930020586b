#include "platform/placeholders.h"

#include "platform/gbk_text.h"

namespace tavrin {

std::string replacePlaceholders(std::string text, std::initializer_list<Placeholder> pairs) {
  for (const auto& [placeholder, value] : pairs) {
    if (placeholder.empty()) continue;
    std::string result;
    size_t copied = 0;
    for (size_t at = findText(text, placeholder, 0, true); at != kTextNotFound;
         at = findText(text, placeholder, at + placeholder.size(), true)) {
      result.append(text, copied, at - copied).append(value);
      copied = at + placeholder.size();
    }
    result.append(text, copied, std::string::npos);
    text.swap(result);
  }
  return text;
}

}  // namespace tavrin
