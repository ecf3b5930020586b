#pragma once
#include <string>

namespace tavrin {

// The real path of the running executable, in the file system's own bytes;
// the empty text when it cannot be read.
std::string programPath();

}  // namespace tavrin
