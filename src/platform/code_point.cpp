#include "platform/code_point.h"

#include "platform/text_encoding.h"

namespace tavrin {
namespace {

constexpr unsigned kQuestionMark = '?';

bool isCharacter(unsigned codePoint) {
  return codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

std::string toUtf8(unsigned codePoint) {
  std::string out;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

// The first code point of well-formed UTF-8 bytes.
unsigned firstCodePoint(const std::string& utf8) {
  if (utf8.empty()) return kQuestionMark;
  auto lead = static_cast<unsigned char>(utf8[0]);
  size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (utf8.size() < length) return kQuestionMark;
  unsigned codePoint = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    codePoint = (codePoint << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
  }
  return codePoint;
}

}  // namespace

std::string codePointToGbk(unsigned codePoint) {
  if (codePoint < 0x80) return std::string(1, static_cast<char>(codePoint));
  if (!isCharacter(codePoint)) return "?";
  std::string gbk = utf8ToGbk(toUtf8(codePoint));
  return gbk.empty() ? "?" : gbk;
}

unsigned gbkCharToCodePoint(const std::string& character) {
  if (character.size() == 1 && static_cast<unsigned char>(character[0]) < 0x80) {
    return static_cast<unsigned char>(character[0]);
  }
  if (character.size() != 2) return kQuestionMark;
  std::string utf8 = gbkToUtf8(character);
  unsigned codePoint = firstCodePoint(utf8);
  // A pair GBK leaves unassigned converts to "?" already; a pair that turns
  // into more than one character is no single GBK character.
  return utf8.size() == toUtf8(codePoint).size() ? codePoint : kQuestionMark;
}

}  // namespace tavrin
