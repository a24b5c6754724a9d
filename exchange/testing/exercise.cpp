#include "exchange/testing/exercise.h"

#include "exchange/document.h"
#include "exchange/duplicates.h"
#include "exchange/item_count.h"
#include "exchange/list_ops.h"
#include "exchange/merge.h"
#include "exchange/numbering.h"
#include "exchange/ordering.h"
#include "exchange/testing/xml_text.h"

namespace exchange::testing {
namespace {

// Every element child of a container, through the first `children` of each
// folder item: what the streaming counter must find without a tree.
size_t treeItemCount(const xmlNode* container) {
  size_t items = 0;
  for (const xmlNode* child = container->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    ++items;
    if (isElement(child, kFolderElement)) {
      if (const xmlNode* children = firstChildElement(child, kChildrenElement)) {
        items += treeItemCount(children);
      }
    }
  }
  return items;
}

std::string checkResult(const char* step, UniqueXmlNode result) {
  if (!result) return std::string();
  UniqueXmlDoc doc = documentWithRoot(std::move(result));
  if (!doc) return std::string(step) + ": no document";
  std::string text = documentToText(doc.get());
  if (!parseDocumentText(text)) return std::string(step) + ": result does not parse: " + text;
  return std::string();
}

}  // namespace

std::string exerciseDocumentText(const std::string& text) {
  UniqueXmlDoc doc = parseDocumentText(text);
  if (!doc) return std::string();
  const xmlNode* root = rootElement(doc.get());
  const std::string before = nodeText(root);

  std::string failure;
  if (const size_t counted = countListItems(text, ControlBytes::Keep); counted != treeItemCount(root)) {
    failure = "item count: " + std::to_string(counted) + " counted, " +
              std::to_string(treeItemCount(root)) + " in the tree";
  }
  if (failure.empty()) failure = checkResult("merge with cache", mergeLists(root, root, root, "Fuzz"));
  if (failure.empty())
    failure = checkResult("first merge", mergeLists(root, root, nullptr, "Fuzz"));
  if (failure.empty()) failure = checkResult("union", unionWithCache(root, root));
  if (failure.empty()) {
    // Once united, a list has no sibling items of one key left.
    UniqueXmlNode united = deepCopy(root);
    uniteDuplicates(united.get(), "Fuzz");
    if (uniteDuplicates(united.get(), "Fuzz") != 0) failure = "unite: duplicates left";
    if (failure.empty()) failure = checkResult("unite", std::move(united));
  }
  if (failure.empty()) {
    UniqueXmlNode prepared = deepCopy(root);
    prepareOrders(prepared.get());
    failure = checkResult("prepare", std::move(prepared));
  }
  if (failure.empty()) {
    UniqueXmlNode copy = deepCopy(root);
    addMissingItems(copy.get(), root);
    removeListedItems(copy.get(), root);
    listsEqual(root, copy.get());
    countItems(root);
    failure = checkResult("add and remove", std::move(copy));
  }
  if (failure.empty() && nodeText(root) != before) failure = "an input list changed";
  return failure;
}

}  // namespace exchange::testing
