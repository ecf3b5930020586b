#include "platform/gbk_text.h"

namespace tavrin {
namespace {

const char kFullWidthSpace[] = "\xA1\xA1";

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool matchesAt(const std::string& text, size_t at, const std::string& needle, bool ignoreCase) {
  if (text.size() - at < needle.size()) return false;
  for (size_t i = 0; i < needle.size(); ++i) {
    char a = text[at + i];
    char b = needle[i];
    if (ignoreCase ? upperAscii(a) != upperAscii(b) : a != b) return false;
  }
  return true;
}

}  // namespace

size_t gbkCharLength(const std::string& text, size_t at) {
  auto lead = static_cast<unsigned char>(text[at]);
  return (lead >= 0x81 && lead <= 0xFE && at + 1 < text.size()) ? 2 : 1;
}

size_t findText(const std::string& text, const std::string& needle, size_t from, bool ignoreCase) {
  if (needle.empty()) return from <= text.size() ? from : kTextNotFound;
  for (size_t at = 0; at < text.size(); at += gbkCharLength(text, at)) {
    if (at >= from && matchesAt(text, at, needle, ignoreCase)) return at;
  }
  return kTextNotFound;
}

std::vector<size_t> findEachText(const std::string& text, const std::string& needle, bool ignoreCase) {
  std::vector<size_t> found;
  if (needle.empty()) return found;
  size_t from = 0;
  for (size_t at = 0; at < text.size(); at += gbkCharLength(text, at)) {
    if (at >= from && matchesAt(text, at, needle, ignoreCase)) {
      found.push_back(at);
      from = at + needle.size();
    }
  }
  return found;
}

std::string trimText(const std::string& text) {
  size_t begin = 0;
  size_t end = 0;  // one past the last character that is no space
  bool leading = true;
  for (size_t at = 0; at < text.size();) {
    size_t length = gbkCharLength(text, at);
    bool space = text[at] == ' ' || (length == 2 && text.compare(at, 2, kFullWidthSpace) == 0);
    if (!space) {
      if (leading) begin = at;
      leading = false;
      end = at + length;
    }
    at += length;
  }
  return leading ? std::string() : text.substr(begin, end - begin);
}

std::string toUpperAscii(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = upperAscii(c);
  return upper;
}

}  // namespace tavrin
