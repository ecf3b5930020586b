#pragma once
// Texts inside Tavrin are GBK byte strings; these conversions happen at the
// edges (descriptions and captured URLs come in as UTF-8, the window, the
// script engine and the servers want UTF-8).
#include <string>

namespace tavrin {

// UTF-8 bytes to a GBK text; characters GBK lacks become "?", and the result
// ends at its first zero character. Empty bytes give the empty text.
std::string utf8ToGbk(const std::string& bytes);

// A GBK text to UTF-8; bytes that are no GBK character become "?".
std::string gbkToUtf8(const std::string& text);

// The GBK text with its terminating zero, as UTF-8 bytes: the zero byte stays
// at the end. An empty text gives empty bytes.
std::string encodeUtf8WithZero(const std::string& text);

}  // namespace tavrin
