#include "platform/system_error_text.h"

#include <cstring>

#include "platform/gbk_text.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

// strerror_r comes in two flavours; these overloads accept either result.
[[maybe_unused]] const char* errorTextFrom(const char* gnuResult, const char*) { return gnuResult; }
[[maybe_unused]] const char* errorTextFrom(int xsiResult, const char* buffer) {
  return xsiResult == 0 ? buffer : "";
}

}  // namespace

std::string systemErrorText(int errorNumber) {
  char buffer[256] = {};
  const char* text = errorTextFrom(strerror_r(errorNumber, buffer, sizeof buffer), buffer);
  // The C library speaks the locale's UTF-8 (or plain ASCII); texts are GBK.
  return trimText(utf8ToGbk(text ? text : ""));
}

}  // namespace tavrin
