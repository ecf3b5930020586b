#include "platform/xml_escape.h"

#include <cstring>

namespace tavrin {
namespace {

struct Entity {
  char character;
  const char* name;
};

const Entity kEntities[] = {
    {'&', "&amp;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"},
};

}  // namespace

// None of the five characters can be the second byte of a GBK character, so
// a byte-wise pass is safe.
std::string escapeXmlChars(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const char* name = nullptr;
    for (const Entity& entity : kEntities) {
      if (entity.character == c) name = entity.name;
    }
    if (name) {
      out += name;
    } else {
      out += c;
    }
  }
  return out;
}

// One pass from left to right, so that "&amp;lt;" becomes "&lt;", not "<".
std::string unescapeXmlChars(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const Entity* found = nullptr;
    if (text[at] == '&') {
      for (const Entity& entity : kEntities) {
        if (text.compare(at, std::strlen(entity.name), entity.name) == 0) found = &entity;
      }
    }
    if (found) {
      out += found->character;
      at += std::strlen(found->name);
    } else {
      out += text[at++];
    }
  }
  return out;
}

}  // namespace tavrin
