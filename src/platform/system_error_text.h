#pragma once
// The system's own description of an error number, as the program shows it
// after its own prefixes ("加入组播失败：" ...).
#include <string>

namespace tavrin {

// The C library's text for errorNumber as a GBK text, trimmed of ASCII and
// full-width spaces at both ends (line breaks stay); empty when there is none.
std::string systemErrorText(int errorNumber);

}  // namespace tavrin
