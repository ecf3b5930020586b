#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace tavrin {
namespace {

// One conversion descriptor per direction and thread: iconv_t keeps shift
// state and must not be shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts everything; at a sequence it cannot convert, it writes "?" and
  // skips the bytes that skipLength() names.
  template <typename SkipLength>
  std::string convert(const std::string& input, SkipLength skipLength) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.reserve(input.size() + input.size() / 2);
    char buffer[4096];
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (inLeft > 0) {
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      size_t result = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
      int error = errno;
      out.append(buffer, outPtr - buffer);
      if (result != static_cast<size_t>(-1)) break;
      if (error == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence cut off at the end): one "?" for it.
      size_t skip = skipLength(reinterpret_cast<const unsigned char*>(in), inLeft);
      out.push_back('?');
      in += skip;
      inLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence at p when it is well formed, else 1, so that a
// character GBK lacks becomes one "?" and a broken byte becomes one "?".
size_t utf8SequenceLength(const unsigned char* p, size_t left) {
  size_t length = p[0] < 0xC2 ? 1 : p[0] < 0xE0 ? 2 : p[0] < 0xF0 ? 3 : p[0] < 0xF5 ? 4 : 1;
  if (length > left) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 1;
  }
  return length;
}

// A GBK lead byte with a valid trail byte is one character; anything else is
// one broken byte.
size_t gbkSequenceLength(const unsigned char* p, size_t left) {
  if (p[0] >= 0x81 && p[0] <= 0xFE && left >= 2 && p[1] >= 0x40 && p[1] <= 0xFE && p[1] != 0x7F) {
    return 2;
  }
  return 1;
}

std::string beforeFirstZero(const std::string& text) {
  return text.substr(0, std::strlen(text.c_str()));
}

}  // namespace

std::string utf8ToGbk(const std::string& bytes) {
  thread_local Converter converter("GBK", "UTF-8");
  return beforeFirstZero(converter.convert(bytes, utf8SequenceLength));
}

std::string gbkToUtf8(const std::string& text) {
  thread_local Converter converter("UTF-8", "GBK");
  return converter.convert(text, gbkSequenceLength);
}

std::string encodeUtf8WithZero(const std::string& text) {
  std::string upToZero = beforeFirstZero(text);
  if (upToZero.empty()) return {};
  std::string bytes = gbkToUtf8(upToZero);
  bytes.push_back('\0');
  return bytes;
}

}  // namespace tavrin
