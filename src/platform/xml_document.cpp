#include "platform/xml_document.h"

#include <pugixml.hpp>

#include "platform/code_point.h"

namespace tavrin {
namespace {

// pugixml's own reference decoding writes characters as UTF-8, while texts
// here are GBK; references are decoded by decodeText instead. Declaring the
// bytes UTF-8 makes pugixml take them unconverted and unchecked, whatever
// the document's declaration says. Without parse_doctype the DOCTYPE is
// skipped unread, so no entity it declares can be expanded.
constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_escapes;

// "@n" positions: 1 to 999999999 in plain decimal digits.
bool parseStepPosition(const std::string& digits, int& position) {
  if (digits.empty() || digits.size() > 9) return false;
  position = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    position = position * 10 + (c - '0');
  }
  return position >= 1;
}

bool isXmlChar(unsigned codePoint) {
  return codePoint == 0x9 || codePoint == 0xA || codePoint == 0xD ||
         (codePoint >= 0x20 && codePoint <= 0xD7FF) ||
         (codePoint >= 0xE000 && codePoint <= 0xFFFD) ||
         (codePoint >= 0x10000 && codePoint <= 0x10FFFF);
}

// Decodes the reference named between "&" and ";"; false for any other name.
bool decodeReference(const std::string& name, std::string& decoded) {
  static const struct {
    const char* name;
    const char* character;
  } kPredefined[] = {{"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"apos", "'"}, {"quot", "\""}};
  for (const auto& entity : kPredefined) {
    if (name == entity.name) {
      decoded = entity.character;
      return true;
    }
  }
  if (name.size() < 2 || name[0] != '#') return false;
  bool hex = name[1] == 'x';
  std::string digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return false;
  unsigned codePoint = 0;
  for (char c : digits) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    codePoint = codePoint * (hex ? 16 : 10) + digit;
  }
  if (!isXmlChar(codePoint)) return false;
  decoded = codePointToGbk(codePoint);
  return true;
}

// "&", ";" and the characters of a reference cannot be the second byte of a
// GBK character, so a byte-wise pass is safe.
std::string decodeText(const char* raw) {
  constexpr size_t kLongestName = 16;
  std::string text(raw);
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    if (text[at] == '&') {
      size_t end = text.find(';', at);
      std::string decoded;
      if (end != std::string::npos && end - at - 1 <= kLongestName &&
          decodeReference(text.substr(at + 1, end - at - 1), decoded)) {
        out += decoded;
        at = end + 1;
        continue;
      }
    }
    out += text[at++];
  }
  return out;
}

pugi::xml_node childElementNamed(const pugi::xml_node& parent, const std::string& name) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && name == child.name()) return child;
  }
  return {};
}

// The element `steps` elements after `from` (0: from itself).
pugi::xml_node elementAfter(pugi::xml_node from, int steps) {
  for (pugi::xml_node child = from; child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && steps-- == 0) return child;
  }
  return {};
}

}  // namespace

XmlDocument::XmlDocument() : document_(std::make_unique<pugi::xml_document>()) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::loadBytes(const std::string& bytes) {
  release();
  pugi::xml_parse_result result =
      document_->load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_utf8);
  if (result) return true;
  // pugixml keeps what it parsed before the error.
  document_->reset();
  return false;
}

// Callers read the children of a list one after another ("@1", "@2", ...):
// going on from the last child found under the same parent keeps such a walk
// linear.
pugi::xml_node XmlDocument::childElementAt(const pugi::xml_node& parent, int position) const {
  LastChild& last = lastChildren_[parent.internal_object()];
  pugi::xml_node child = last.node && position >= last.position
                             ? elementAfter(last.node, position - last.position)
                             : elementAfter(parent.first_child(), position - 1);
  last = {position, child};
  return child;
}

pugi::xml_node XmlDocument::resolve(const std::string& path) const {
  pugi::xml_node node;
  for (size_t start = 0;;) {
    size_t slash = path.find('/', start);
    std::string step = path.substr(start, slash == std::string::npos ? slash : slash - start);
    if (step.empty()) return {};
    if (start == 0) {
      node = document_->document_element();
      if (!node || step != node.name()) return {};
    } else if (step[0] == '@') {
      int position = 0;
      if (!parseStepPosition(step.substr(1), position)) return {};
      node = childElementAt(node, position);
    } else {
      node = childElementNamed(node, step);
    }
    if (!node) return {};
    if (slash == std::string::npos) return node;
    start = slash + 1;
  }
}

// Walks the subtree without recursion: a deeply nested document must not
// exhaust the stack.
std::string XmlDocument::nodeText(const std::string& path) const {
  pugi::xml_node element = resolve(path);
  std::string text;
  if (!element) return text;
  for (pugi::xml_node node = element.first_child(); node;) {
    if (node.type() == pugi::node_pcdata) {
      text += decodeText(node.value());
    } else if (node.type() == pugi::node_cdata) {
      text += node.value();
    }
    if (node.type() == pugi::node_element && node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != element && !node.next_sibling()) node = node.parent();
    if (node == element) break;
    node = node.next_sibling();
  }
  return text;
}

std::string XmlDocument::nodeName(const std::string& path) const {
  pugi::xml_node element = resolve(path);
  return element ? element.name() : std::string();
}

int XmlDocument::childCount(const std::string& path) const {
  pugi::xml_node element = resolve(path);
  int count = 0;
  if (!element) return count;
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) ++count;
  }
  return count;
}

void XmlDocument::release() {
  document_->reset();
  lastChildren_.clear();
}

}  // namespace tavrin
