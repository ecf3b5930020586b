#pragma once
// The soak benchmark's media file: every aligned 32-bit word holds its own
// word number (little-endian), so any byte tells where in the file it
// belongs, and a range read from the wrong place or shifted is seen at once.
#include <cstdint>
#include <string>

namespace tavrin::bench {

// The byte at this position of the file.
char mediaPatternByte(uint64_t position);

// Writes a file of the pattern; false when it cannot.
bool writeMediaPatternFile(const std::string& path, uint64_t size);

// Checks the bytes read from the file starting at `first`: the first and
// last byte and one every `stride` bytes. -1 when they all fit, else the
// offset in `bytes` of the first that does not.
long long mediaPatternMismatch(const std::string& bytes, uint64_t first, size_t stride = 4096);

}  // namespace tavrin::bench
