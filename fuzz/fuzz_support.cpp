#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/text_encoding.h"

namespace tavrin::fuzz {
namespace {

unsigned char leadByte(unsigned char byte) {
  if (byte < 0x81) return 0x81;
  return byte > 0xFE ? 0xFE : byte;
}

unsigned char trailByte(unsigned char byte) {
  if (byte >= 0x40 && byte <= 0xFE && byte != 0x7F) return byte;
  unsigned char trail = static_cast<unsigned char>(0x40 + byte % 0xBF);
  return trail == 0x7F ? 0x80 : trail;
}

// Which lead/trail pairs convert to Unicode and back unchanged; made once
// (the table costs some 24,000 conversions).
const std::vector<bool>& roundTripPairs() {
  static const std::vector<bool> table = [] {
    std::vector<bool> pairs(0x10000, false);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const std::string character{static_cast<char>(lead), static_cast<char>(trail)};
        pairs[lead << 8 | trail] = utf8ToGbk(gbkToUtf8(character)) == character;
      }
    }
    return pairs;
  }();
  return table;
}

}  // namespace

std::string gbkText(const std::string& bytes) {
  const std::vector<bool>& pairs = roundTripPairs();
  std::string text;
  for (size_t at = 0; at < bytes.size(); ++at) {
    auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      text += static_cast<char>(byte);
      continue;
    }
    if (at + 1 == bytes.size()) break;
    unsigned char lead = leadByte(byte);
    unsigned char trail = trailByte(static_cast<unsigned char>(bytes[++at]));
    if (pairs[lead << 8 | trail]) text.append({static_cast<char>(lead), static_cast<char>(trail)});
  }
  return text;
}

void require(bool condition, const char* file, int line) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s:%d\n", file, line);
  std::abort();
}

std::vector<std::string> firstLines(const std::string& text, size_t most) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size() && lines.size() < most) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string providerPiece(const std::string& text) {
  std::string piece;
  for (char c : text) {
    piece += c;
    if (c == '\\') piece += c;
  }
  return piece + "\\|";
}

}  // namespace tavrin::fuzz
