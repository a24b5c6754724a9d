#include "exchange/testing/xml_text.h"

#include <memory>

#include "exchange/xml_owners.h"

namespace exchange::testing {
namespace {

struct BufferDeleter {
  void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};

}  // namespace

std::string nodeText(const xmlNode* node) {
  if (!node) return "<none>";
  std::unique_ptr<xmlBuffer, BufferDeleter> buffer(xmlBufferCreate());
  xmlNodeDump(buffer.get(), node->doc, const_cast<xmlNode*>(node), 0, 0);
  return toString(xmlBufferContent(buffer.get()));
}

bool renameFirstElement(xmlNode* root, const char* from, const char* to) {
  if (!root) return false;
  if (root->type == XML_ELEMENT_NODE && xmlStrEqual(root->name, toXml(from))) {
    xmlNodeSetName(root, toXml(to));
    return true;
  }
  for (xmlNode* child = root->children; child; child = child->next) {
    if (renameFirstElement(child, from, to)) return true;
  }
  return false;
}

}  // namespace exchange::testing
