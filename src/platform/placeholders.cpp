#include "platform/placeholders.h"

#include "platform/gbk_text.h"

namespace tavrin {

std::string replacePlaceholders(std::string text, std::initializer_list<Placeholder> pairs) {
  for (const auto& [placeholder, value] : pairs) {
    if (placeholder.empty()) continue;
    std::string result;
    size_t copied = 0;
    // Found in one walk: a value may bring many more placeholders into the
    // text (a SOAP action name, say), and a search from the text's start
    // for each of them would cost their number times the text's length.
    for (size_t at : findEachText(text, placeholder, true)) {
      result.append(text, copied, at - copied).append(value);
      copied = at + placeholder.size();
    }
    result.append(text, copied, std::string::npos);
    text.swap(result);
  }
  return text;
}

}  // namespace tavrin
