#pragma once
#include <string>

namespace tavrin {

// The Content-Type a file is sent with, chosen by its extension (any case):
// common video, audio, image, playlist and subtitle types, otherwise
// "application/octet-stream".
std::string mimeTypeForPath(const std::string& path);

}  // namespace tavrin
