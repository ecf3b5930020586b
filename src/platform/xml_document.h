#pragma once
// An XML tree built from a document in memory, queried by paths. A path is
// steps separated by "/": the first names the root element; each further
// step is a name, selecting the first child element with exactly that name
// (byte for byte, prefix included, as in "dlna:X_DLNADOC"), or "@n",
// selecting the n-th child element (n from 1, document order). A path that
// cannot be followed resolves to nothing: empty text, 0.
//
// The bytes are taken as they are (GBK texts come back as GBK, two-byte
// characters whole); no DTD is read and no entity beyond the five
// predefined ones and character references is ever expanded.
#include <memory>
#include <string>
#include <unordered_map>

#include <pugixml.hpp>

namespace tavrin {

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Parses a whole document, replacing the previous content. A document that
  // is not well-formed leaves this one empty and gives false.
  bool loadBytes(const std::string& bytes);

  // The element's text content: the text of every text and CDATA section
  // inside it, in document order, comments left out. &lt; &gt; &amp; &apos;
  // &quot; are decoded, and character references become the GBK bytes of
  // their character ("?" when GBK lacks it); other references stay as
  // written.
  std::string nodeText(const std::string& path) const;

  // The element's name as written, prefix included.
  std::string nodeName(const std::string& path) const;

  // The number of child elements.
  int childCount(const std::string& path) const;

  // Frees the content; the document is empty again.
  void release();

 private:
  pugi::xml_node resolve(const std::string& path) const;
  pugi::xml_node childElementAt(const pugi::xml_node& parent, int position) const;

  std::unique_ptr<pugi::xml_document> document_;
  // The last "@n" step taken under each parent; queries are not made from
  // several threads at once on one document.
  struct LastChild {
    int position = 0;
    pugi::xml_node node;
  };
  mutable std::unordered_map<const void*, LastChild> lastChildren_;
};

}  // namespace tavrin
