// Owners for the libxml2 handles the exchange code hands around. Each one is a
// std::unique_ptr with a stateless deleter, so it costs one pointer.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlmemory.h>

#include <memory>
#include <string>

namespace exchange {

struct XmlDocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

// A node that belongs to no tree yet (a fresh copy, a merge result) or that the
// owner unlinks before freeing. A node still linked into a tree is unlinked
// first, so releasing the owner never leaves a dangling child behind.
struct XmlNodeDeleter {
  void operator()(xmlNode* node) const {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
  }
};

// Buffers that libxml2 allocates for the caller (xmlGetProp,
// xmlNodeGetContent, xmlDocDumpFormatMemory).
struct XmlCharDeleter {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

using UniqueXmlDoc = std::unique_ptr<xmlDoc, XmlDocDeleter>;
using UniqueXmlNode = std::unique_ptr<xmlNode, XmlNodeDeleter>;
using UniqueXmlChar = std::unique_ptr<xmlChar, XmlCharDeleter>;

// The bytes of a libxml2 text; an absent text gives the empty string.
inline std::string toString(const xmlChar* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

inline const xmlChar* toXml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
inline const xmlChar* toXml(const std::string& text) { return toXml(text.c_str()); }

}  // namespace exchange
