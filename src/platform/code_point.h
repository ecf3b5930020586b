#pragma once
// Unicode code points in and out of GBK texts, for the character references
// of XML and the \u escapes of JSON.
#include <string>

namespace tavrin {

// The GBK bytes of one code point: ASCII as its byte (zero included), any
// other character as GBK, "?" when GBK lacks it or it is no character.
std::string codePointToGbk(unsigned codePoint);

// The code point of one GBK character given as its one or two bytes; "?"
// when the bytes are not exactly one character.
unsigned gbkCharToCodePoint(const std::string& character);

}  // namespace tavrin
