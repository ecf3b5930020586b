#include "json/number_text.h"

#include <charconv>
#include <cmath>

namespace tavrin {

std::string numberText(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
  char buffer[64];
  std::to_chars_result result;
  if (number == std::trunc(number) && std::fabs(number) < 1e21) {
    // Plain digits: the shortest form would turn 1000000 into "1e+06". -0 is 0.
    result = std::to_chars(buffer, buffer + sizeof buffer, number + 0.0, std::chars_format::fixed, 0);
  } else {
    result = std::to_chars(buffer, buffer + sizeof buffer, number);
  }
  return std::string(buffer, result.ptr);
}

}  // namespace tavrin
