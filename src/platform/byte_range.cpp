#include "platform/byte_range.h"

#include <cctype>
#include <limits>

namespace tavrin {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Reads the decimal number at text[pos...]; false when there is none or it
// does not fit in 64 bits.
bool readNumber(const std::string& text, size_t& pos, uint64_t& value) {
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
    ++pos;
  }
  return pos > start;
}

void skipBlanks(const std::string& text, size_t& pos) {
  while (pos < text.size() && isBlank(text[pos])) ++pos;
}

}  // namespace

ByteRange parseByteRange(const std::string& header, uint64_t size) {
  ByteRange whole;
  size_t pos = 0;
  skipBlanks(header, pos);
  static const char kUnit[] = "bytes";
  for (const char* u = kUnit; *u; ++u, ++pos) {
    if (pos >= header.size() || std::tolower(static_cast<unsigned char>(header[pos])) != *u) return whole;
  }
  skipBlanks(header, pos);
  if (pos >= header.size() || header[pos] != '=') return whole;
  ++pos;
  skipBlanks(header, pos);

  bool hasFirst = false;
  bool hasLast = false;
  uint64_t first = 0;
  uint64_t last = 0;
  if (pos < header.size() && header[pos] != '-') {
    if (!readNumber(header, pos, first)) return whole;
    hasFirst = true;
  }
  skipBlanks(header, pos);
  if (pos >= header.size() || header[pos] != '-') return whole;
  ++pos;
  skipBlanks(header, pos);
  if (pos < header.size() && std::isdigit(static_cast<unsigned char>(header[pos]))) {
    if (!readNumber(header, pos, last)) return whole;
    hasLast = true;
  }
  skipBlanks(header, pos);
  // Anything after the one range (",", another range, junk): not a single
  // range, so the whole file is sent.
  if (pos != header.size()) return whole;
  if (!hasFirst && !hasLast) return whole;
  if (hasFirst && hasLast && last < first) return whole;

  ByteRange range;
  range.kind = ByteRange::Kind::unsatisfiable;
  if (!hasFirst) {
    // Suffix: the last n bytes; a zero suffix or an empty file has none.
    if (last == 0 || size == 0) return range;
    range.first = last >= size ? 0 : size - last;
    range.last = size - 1;
  } else {
    if (first >= size) return range;
    range.first = first;
    range.last = (!hasLast || last >= size) ? size - 1 : last;
  }
  range.kind = ByteRange::Kind::partial;
  return range;
}

}  // namespace tavrin
