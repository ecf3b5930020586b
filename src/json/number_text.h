#pragma once
#include <string>

namespace tavrin {

// The text form of a number read from or written to the script engine:
// whole numbers below 1e21 in plain decimal without a fraction ("42", "-7"),
// every other finite number in the shortest form that reads back to the same
// double ("0.1", "1.5e-07", "1e+21"); "NaN", "Infinity" and "-Infinity" as
// JavaScript spells them, so the text is also valid script source.
std::string numberText(double number);

}  // namespace tavrin
