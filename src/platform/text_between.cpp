#include "platform/text_between.h"

#include "platform/gbk_text.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

std::string withQuotes(std::string marker) {
  static const std::string quoteName = utf8ToGbk("#引号");
  for (size_t at = findText(marker, quoteName); at != kTextNotFound;
       at = findText(marker, quoteName, at + 1)) {
    marker.replace(at, quoteName.size(), "\"");
  }
  return marker;
}

}  // namespace

std::string textBetween(const std::string& text, const std::string& start, const std::string& end,
                        int position, bool ignoreCase) {
  size_t from = position > 1 ? static_cast<size_t>(position - 1) : 0;
  if (from > text.size()) return {};
  std::string startMarker = withQuotes(start);
  size_t found = findText(text, startMarker, from, ignoreCase);
  if (found == kTextNotFound) return {};
  size_t p = found + startMarker.size();
  size_t stop = findText(text, withQuotes(end), p, ignoreCase);
  if (stop == kTextNotFound) return {};
  return text.substr(p, stop - p);
}

}  // namespace tavrin
