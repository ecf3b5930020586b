#pragma once
// The one byte range of a file that a GET asks for with its Range header.
#include <cstdint>
#include <string>

namespace tavrin {

struct ByteRange {
  enum class Kind {
    wholeFile,      // no usable Range header (absent, malformed, several ranges): 200
    partial,        // bytes first..last, both inclusive: 206
    unsatisfiable,  // a well-formed range that lies outside the file: 416
  };
  Kind kind = Kind::wholeFile;
  uint64_t first = 0;
  uint64_t last = 0;
};

// Reads a Range header value against a file of `size` bytes: "bytes=a-b",
// "bytes=a-" and the suffix "bytes=-n"; an end past the file is clamped.
// A malformed header or a list of several ranges asks for the whole file.
ByteRange parseByteRange(const std::string& header, uint64_t size);

}  // namespace tavrin
