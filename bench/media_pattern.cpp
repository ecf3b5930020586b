#include "media_pattern.h"

#include <fstream>
#include <vector>

namespace tavrin::bench {

char mediaPatternByte(uint64_t position) {
  const uint32_t word = static_cast<uint32_t>(position / 4);
  return static_cast<char>((word >> (8 * (position % 4))) & 0xff);
}

bool writeMediaPatternFile(const std::string& path, uint64_t size) {
  constexpr uint64_t kBlock = 1 << 20;
  std::vector<char> block(kBlock);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (uint64_t start = 0; start < size && out; start += kBlock) {
    const uint64_t length = std::min(kBlock, size - start);
    for (uint64_t i = 0; i < length; ++i) block[i] = mediaPatternByte(start + i);
    out.write(block.data(), static_cast<std::streamsize>(length));
  }
  out.close();
  return static_cast<bool>(out);
}

long long mediaPatternMismatch(const std::string& bytes, uint64_t first, size_t stride) {
  if (bytes.empty()) return -1;
  auto bad = [&](size_t at) { return bytes[at] != mediaPatternByte(first + at); };
  for (size_t at = 0; at < bytes.size(); at += stride) {
    if (bad(at)) return static_cast<long long>(at);
  }
  return bad(bytes.size() - 1) ? static_cast<long long>(bytes.size() - 1) : -1;
}

}  // namespace tavrin::bench
