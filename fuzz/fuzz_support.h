#pragma once
// Helpers shared by the fuzz targets and the program that writes their seeds.
#include <string>
#include <vector>

namespace tavrin::fuzz {

// A GBK text made of arbitrary bytes, of the kind the program's converters
// produce: bytes below 0x80 (the zero byte, quotes and backslashes included)
// stay; any other byte and the one after it become a two-byte character that
// survives the trip to Unicode and back, or nothing when GBK has none there.
// A GBK text maps to itself.
std::string gbkText(const std::string& bytes);

// Ends the run as a crash, which libFuzzer keeps as an artifact, when a
// checked property does not hold; says which check it was.
void require(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE());

// The text's first lines, split at "\n", at most `most` of them; queries
// the targets run on one input.
std::vector<std::string> firstLines(const std::string& text, size_t most);

// The text as FuzzedDataProvider::ConsumeRandomLengthString reads it back:
// every backslash doubled, ended by a backslash and one other byte.
std::string providerPiece(const std::string& text);

}  // namespace tavrin::fuzz
