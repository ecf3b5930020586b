#pragma once
// Character-aware operations on GBK texts: a search or a cut never lands in
// the middle of a two-byte character (whose second byte may look like ASCII).
#include <cstddef>
#include <string>
#include <vector>

namespace tavrin {

constexpr size_t kTextNotFound = std::string::npos;

// Byte length of the character that begins at byte offset `at`.
size_t gbkCharLength(const std::string& text, size_t at);

// Byte offset of the first occurrence of `needle` that begins on a character
// boundary at or after byte offset `from`, or kTextNotFound. With ignoreCase,
// ASCII letters compare without regard to case.
size_t findText(const std::string& text, const std::string& needle, size_t from = 0,
                bool ignoreCase = false);

// The byte offsets findText gives one after another, each search going on
// from the end of the occurrence before (so none overlap), found in one walk
// over the text rather than one walk from its start per occurrence. None for
// an empty needle.
std::vector<size_t> findEachText(const std::string& text, const std::string& needle, bool ignoreCase = false);

// The text without ASCII spaces and GBK full-width spaces at either end;
// tabs and line breaks stay.
std::string trimText(const std::string& text);

// ASCII letters in upper case; every other byte unchanged.
std::string toUpperAscii(const std::string& text);

}  // namespace tavrin
