#include "platform/mime_type.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tavrin {
namespace {

struct MimeEntry {
  const char* extension;
  const char* type;
};

constexpr MimeEntry kMimeTypes[] = {
    {"mp4", "video/mp4"},
    {"m4v", "video/x-m4v"},
    {"mkv", "video/x-matroska"},
    {"avi", "video/x-msvideo"},
    {"mov", "video/quicktime"},
    {"webm", "video/webm"},
    {"ts", "video/mp2t"},
    {"m2ts", "video/mp2t"},
    {"flv", "video/x-flv"},
    {"wmv", "video/x-ms-wmv"},
    {"mpg", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"3gp", "video/3gpp"},
    {"mp3", "audio/mpeg"},
    {"aac", "audio/aac"},
    {"m4a", "audio/mp4"},
    {"flac", "audio/flac"},
    {"wav", "audio/wav"},
    {"ogg", "audio/ogg"},
    {"wma", "audio/x-ms-wma"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"webp", "image/webp"},
    {"m3u8", "application/vnd.apple.mpegurl"},
    {"m3u", "audio/x-mpegurl"},
    {"srt", "application/x-subrip"},
    {"vtt", "text/vtt"},
    {"ass", "text/x-ssa"},
    {"ssa", "text/x-ssa"},
};

}  // namespace

std::string mimeTypeForPath(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const MimeEntry& entry : kMimeTypes) {
      if (extension == entry.extension) return entry.type;
    }
  }
  return "application/octet-stream";
}

}  // namespace tavrin
