#include "exchange/document.h"

#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parser.h>

#include <string>

#include "exchange/timestamp.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace exchange {
namespace {

bool addDoctype(xmlDoc* doc) {
  return xmlCreateIntSubset(doc, toXml(kDoctypeRoot), toXml(kDoctypePublicId),
                            toXml(kDoctypeSystemId)) != nullptr;
}

// Entity declarations in an internal subset would be expanded by every later
// read of a text (xmlNodeGetContent), so a small hostile document could grow
// without bound there. No party of the system declares entities; a document
// that does is refused like one that does not parse.
bool declaresEntities(const xmlDoc* doc) {
  for (const xmlDtd* dtd : {doc->intSubset, doc->extSubset}) {
    if (!dtd) continue;
    if (dtd->entities && xmlHashSize(static_cast<xmlHashTablePtr>(dtd->entities)) > 0) return true;
    if (dtd->pentities && xmlHashSize(static_cast<xmlHashTablePtr>(dtd->pentities)) > 0) {
      return true;
    }
  }
  return false;
}

// The parser's defaults, less the whitespace-only text between elements: it
// carries no meaning in an exchange document, makes up a third of the nodes
// of a parsed list, and formatted output indents afresh without it. Element
// names stay private to each node (no dictionary), so that nodes can move
// between documents freely.
constexpr int kParseOptions = XML_PARSE_NOBLANKS | XML_PARSE_NODICT;

UniqueXmlDoc acceptParsed(xmlDoc* parsed) {
  UniqueXmlDoc doc(parsed);
  if (doc && (declaresEntities(doc.get()) || !rootElement(doc.get()))) doc.reset();
  return doc;
}

}  // namespace

UniqueXmlDoc newDocument() {
  UniqueXmlDoc doc(xmlNewDoc(toXml("1.0")));
  if (!doc) return nullptr;
  xmlNode* root = xmlNewDocNode(doc.get(), nullptr, toXml(kBookmarksElement), nullptr);
  if (!root) return nullptr;
  xmlDocSetRootElement(doc.get(), root);
  if (!addDoctype(doc.get())) return nullptr;
  return doc;
}

UniqueXmlDoc documentWithRoot(UniqueXmlNode root) {
  UniqueXmlDoc doc(xmlNewDoc(toXml("1.0")));
  if (!doc || !root) return nullptr;
  xmlUnlinkNode(root.get());
  // xmlDocSetRootElement hands the node (and its subtree) to the document.
  xmlDocSetRootElement(doc.get(), root.release());
  if (!addDoctype(doc.get())) return nullptr;
  return doc;
}

xmlNode* rootElement(const xmlDoc* doc) { return doc ? xmlDocGetRootElement(doc) : nullptr; }

xmlNode* addElement(xmlNode* parent, const char* name) {
  xmlNode* child = xmlNewDocNode(parent->doc, nullptr, toXml(name), nullptr);
  if (!child) return nullptr;
  return xmlAddChild(parent, child);
}

xmlNode* addTextElement(xmlNode* parent, const char* name, const std::string& text) {
  xmlNode* child = addElement(parent, name);
  if (!child) return nullptr;
  // A text node holds its bytes as they are; the serialiser escapes them.
  // (Content handed to xmlNewDocNode would be read for entity references.)
  xmlNode* content = xmlNewDocTextLen(parent->doc, toXml(text), static_cast<int>(text.size()));
  if (content) xmlAddChild(child, content);
  return child;
}

void setAttribute(xmlNode* element, const char* name, const std::string& value) {
  xmlSetProp(element, toXml(name), toXml(value));
}

std::optional<std::string> attribute(const xmlNode* element, const char* name) {
  UniqueXmlChar value(xmlGetProp(element, toXml(name)));
  if (!value) return std::nullopt;
  return toString(value.get());
}

bool isElement(const xmlNode* node, const char* name) {
  return node && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, toXml(name));
}

xmlNode* firstChildElement(const xmlNode* parent, const char* name) {
  if (!parent) return nullptr;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (isElement(child, name)) return child;
  }
  return nullptr;
}

bool hasElementChild(const xmlNode* parent) {
  if (!parent) return false;
  for (const xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) return true;
  }
  return false;
}

std::string textContent(const xmlNode* node) {
  // The usual case, an element holding one text node, needs no buffer.
  if (node && node->type == XML_ELEMENT_NODE) {
    const xmlNode* only = node->children;
    if (!only) return std::string();
    if (!only->next && (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE)) {
      return toString(only->content);
    }
  }
  UniqueXmlChar text(xmlNodeGetContent(node));
  return toString(text.get());
}

std::optional<std::string> childText(const xmlNode* parent, const char* name) {
  const xmlNode* child = firstChildElement(parent, name);
  if (!child) return std::nullopt;
  return textContent(child);
}

std::string documentToText(xmlDoc* doc) {
  xmlChar* raw = nullptr;
  int size = 0;
  xmlDocDumpFormatMemory(doc, &raw, &size, 1);
  UniqueXmlChar text(raw);
  if (!text || size <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(text.get()), static_cast<size_t>(size));
}

std::string saveDocumentFile(xmlDoc* doc, const std::filesystem::path& path) {
  // The bytes xmlSaveFile writes, made in memory so that the file can be
  // replaced whole: a cut cache would make the next run a first one.
  xmlChar* raw = nullptr;
  int size = 0;
  xmlDocDumpFormatMemory(doc, &raw, &size, 0);
  UniqueXmlChar text(raw);
  if (!text || size <= 0) return "could not write " + path.string() + " (out of memory)";
  if (!platform::replaceFileContents(path, std::string(reinterpret_cast<const char*>(text.get()),
                                                       static_cast<size_t>(size)))) {
    return "could not write " + path.string() + " (error " + std::to_string(platform::lastError()) + ")";
  }
  return std::string();
}

UniqueXmlDoc parseDocumentText(const std::string& text) {
  return acceptParsed(xmlReadDoc(toXml(text), nullptr, nullptr, kParseOptions));
}

UniqueXmlDoc parseDocumentFile(const std::filesystem::path& path) {
  return acceptParsed(xmlReadFile(path.c_str(), nullptr, kParseOptions));
}

std::time_t listTimeOf(const xmlDoc* doc, std::time_t otherwise) {
  const std::optional<std::string> stamp = attribute(rootElement(doc), kTimestampAttribute);
  return stamp ? parseTimestamp(*stamp) : otherwise;
}

}  // namespace exchange
