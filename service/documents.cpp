#include "service/documents.h"

#include <libxml/parser.h>

#include <climits>
#include <ctime>
#include <mutex>
#include <vector>

#include "exchange/document.h"
#include "exchange/timestamp.h"

namespace service {
namespace {

// No NOENT (entities stay references), no DTDLOAD/DTDATTR/DTDVALID, no
// XINCLUDE, no HUGE (libxml2 keeps its limits on depth and text sizes).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// True when a node of the tree below `top` (attributes included) is a
// reference to an entity the document declared itself. The parser resolves
// the predefined entities and character references into text, so no client
// of this system writes one.
bool holdsEntityReference(xmlNode* top) {
  xmlNode* node = top;
  while (node) {
    if (node->type == XML_ENTITY_REF_NODE || node->type == XML_ENTITY_DECL) return true;
    if (node->type == XML_ELEMENT_NODE) {
      for (xmlAttr* a = node->properties; a; a = a->next) {
        for (xmlNode* c = a->children; c; c = c->next) {
          if (c->type == XML_ENTITY_REF_NODE) return true;
        }
      }
    }
    // Depth-first walk without recursion.
    if (node->children && node->type != XML_ENTITY_REF_NODE) {
      node = node->children;
      continue;
    }
    while (node && node != top && !node->next) node = node->parent;
    if (!node || node == top) break;
    node = node->next;
  }
  return false;
}

std::int64_t countItems(xmlNode* root) {
  std::int64_t count = 0;
  std::vector<xmlNode*> containers{root};
  while (!containers.empty()) {
    xmlNode* container = containers.back();
    containers.pop_back();
    for (xmlNode* n = container->children; n; n = n->next) {
      if (exchange::isElement(n, exchange::kFolderElement)) {
        ++count;
        if (xmlNode* children = exchange::firstChildElement(n, exchange::kChildrenElement)) {
          containers.push_back(children);
        }
      } else if (exchange::isElement(n, exchange::kBookmarkElement) ||
                 exchange::isElement(n, exchange::kSeparatorElement)) {
        ++count;
      }
    }
  }
  return count;
}

std::string renderWith(xmlDoc* doc, std::int64_t listTime, const char* type) {
  xmlNode* root = exchange::rootElement(doc);
  exchange::setAttribute(root, exchange::kTimestampAttribute,
                         exchange::formatTimestamp(static_cast<std::time_t>(listTime)));
  exchange::setAttribute(root, exchange::kTypeAttribute, type);
  return exchange::documentToText(doc);
}

std::string freshDocument(std::int64_t listTime, const char* type) {
  exchange::UniqueXmlDoc doc = exchange::newDocument();
  if (!doc) return {};
  return renderWith(doc.get(), listTime, type);
}

}  // namespace

void initXml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

std::string ListDocument::parse(std::string_view body, ListDocument& out) {
  initXml();
  if (body.size() > static_cast<std::size_t>(INT_MAX)) return "the document is too large";
  exchange::UniqueXmlDoc doc(
      xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr, kParseOptions));
  if (!doc) return "the document is not well-formed XML";
  xmlNode* root = exchange::rootElement(doc.get());
  if (!exchange::isElement(root, exchange::kBookmarksElement) || root->ns) {
    return "the root element is not bookmarks";
  }
  if (holdsEntityReference(root)) return "the document uses entities of its own";
  // Whatever the upload declared, the stored document carries the standard
  // declaration and nothing else from a DTD.
  if (xmlDtd* dtd = xmlGetIntSubset(doc.get())) {
    xmlUnlinkNode(reinterpret_cast<xmlNode*>(dtd));
    xmlFreeDtd(dtd);
  }
  if (!xmlCreateIntSubset(doc.get(), exchange::toXml(exchange::kDoctypeRoot),
                          exchange::toXml(exchange::kDoctypePublicId),
                          exchange::toXml(exchange::kDoctypeSystemId))) {
    return "out of memory";
  }
  // UTF-8 out, without an encoding declaration, whatever came in.
  if (doc->encoding) {
    xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = nullptr;
  }
  out.items_ = countItems(root);
  out.doc_ = std::move(doc);
  return {};
}

std::string ListDocument::render(std::int64_t listTime) {
  return renderWith(doc_.get(), listTime, exchange::kFullType);
}

std::string countListItems(std::string_view document, std::int64_t& items) {
  ListDocument list;
  if (std::string error = ListDocument::parse(document, list); !error.empty()) return error;
  items = list.items();
  return {};
}

std::string rerenderList(const std::string& document, std::int64_t listTime) {
  ListDocument list;
  if (!ListDocument::parse(document, list).empty()) return {};
  return list.render(listTime);
}

std::string emptyListDocument(std::int64_t listTime) {
  return freshDocument(listTime, exchange::kFullType);
}

std::string skipDocument(std::int64_t listTime) { return freshDocument(listTime, "skip"); }

}  // namespace service
