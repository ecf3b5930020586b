// Feeds texts from the network and markers to the shared text routines:
// textBetween (both cases, any start position), replacePlaceholders,
// escapeXmlChars / unescapeXmlChars, findText and trimText. Checks: what
// textBetween returns stands in the text right behind the start marker;
// a placeholder replaced by itself keeps the length; escaping leaves none of
// the five special characters and unescaping gives the text back;
// unescaping never lengthens; trimming gives a piece of the text.
//
// Input: [start marker piece][end marker piece][text bytes...][position byte][flags byte]
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/gbk_text.h"
#include "platform/placeholders.h"
#include "platform/text_between.h"
#include "platform/xml_escape.h"

namespace tavrin {
namespace {

using fuzz::require;

void checkTextBetween(const std::string& text, const std::string& start, const std::string& end, int position,
                      bool ignoreCase) {
  const std::string between = textBetween(text, start, end, position, ignoreCase);
  if (between.empty()) return;
  require(text.find(between) != std::string::npos);
  // The start marker (quotes written as "#引号" aside) ends where the piece begins.
  if (start.find('#') == std::string::npos) {
    const size_t at = findText(text, start, position > 1 ? static_cast<size_t>(position - 1) : 0, ignoreCase);
    require(at != kTextNotFound);
    require(text.compare(at + start.size(), between.size(), between) == 0);
  }
}

void checkPlaceholders(const std::string& text, const std::string& placeholder, const std::string& value) {
  require(replacePlaceholders(text, {{placeholder, placeholder}}).size() == text.size());
  require(replacePlaceholders(text, {{"", value}}) == text);
  const std::string filled = replacePlaceholders(text, {{placeholder, value}, {value, placeholder}});
  if (value.empty() && !placeholder.empty()) require(filled.size() <= text.size());
}

void checkXmlEscapes(const std::string& text) {
  const std::string escaped = escapeXmlChars(text);
  require(escaped.find_first_of("<>\"'") == std::string::npos);
  require(unescapeXmlChars(escaped) == text);
  require(unescapeXmlChars(text).size() <= text.size());
}

void checkTrim(const std::string& text) {
  const std::string trimmed = trimText(text);
  require(trimmed.size() <= text.size() && text.find(trimmed) != std::string::npos);
  require(trimmed.empty() || trimmed[0] != ' ');
  require(trimText(trimmed) == trimmed);
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const uint8_t flags = input.ConsumeIntegral<uint8_t>();
  const int position = input.ConsumeIntegralInRange<int>(0, 255);
  const std::string start = input.ConsumeRandomLengthString(64);
  const std::string end = input.ConsumeRandomLengthString(64);
  const std::string text = input.ConsumeRemainingBytesAsString();

  checkTextBetween(text, start, end, position, (flags & 1) != 0);
  checkPlaceholders(text, start, end);
  checkXmlEscapes(text);
  checkTrim(text);
  return 0;
}
