#include "exchange/list_ops.h"

#include <unordered_map>
#include <vector>

#include "exchange/document.h"
#include "exchange/xml_owners.h"

namespace exchange {
namespace {

enum class Kind { kOther, kBookmark, kFolder };

Kind kindOf(const xmlNode* node) {
  if (isElement(node, kBookmarkElement)) return Kind::kBookmark;
  if (isElement(node, kFolderElement)) return Kind::kFolder;
  return Kind::kOther;
}

// One string per item key: the kind, then "=" and the name when it has one,
// so that an absent name and the empty name stay apart.
std::string keyOf(Kind kind, const std::optional<std::string>& name) {
  std::string key(1, kind == Kind::kFolder ? 'f' : 'b');
  if (name) {
    key += '=';
    key += *name;
  }
  return key;
}

// The first item of each key in a container, as a scan in document order
// finds it. Items appended at the end later are added with add(), which keeps
// an earlier item of the same key in front.
class FirstItemIndex {
 public:
  explicit FirstItemIndex(const xmlNode* container) {
    for (xmlNode* child = container->children; child; child = child->next) {
      Kind kind = kindOf(child);
      if (kind != Kind::kOther) add(keyOf(kind, itemName(child)), child);
    }
  }
  xmlNode* find(const std::string& key) const {
    auto it = first_.find(key);
    return it == first_.end() ? nullptr : it->second;
  }
  void add(const std::string& key, xmlNode* item) { first_.emplace(key, item); }

 private:
  std::unordered_map<std::string, xmlNode*> first_;
};

// Every item of each key in a container, in document order, for a walk that
// removes first matches: the front of a key's queue is the first match of the
// container as it stands.
class ItemQueueIndex {
 public:
  explicit ItemQueueIndex(const xmlNode* container) {
    for (xmlNode* child = container->children; child; child = child->next) {
      Kind kind = kindOf(child);
      if (kind != Kind::kOther) queues_[keyOf(kind, itemName(child))].items.push_back(child);
    }
  }
  xmlNode* front(const std::string& key) const {
    auto it = queues_.find(key);
    if (it == queues_.end() || it->second.head == it->second.items.size()) return nullptr;
    return it->second.items[it->second.head];
  }
  // Unlinks and frees the front item of the key.
  void removeFront(const std::string& key) {
    Queue& queue = queues_.at(key);
    UniqueXmlNode doomed(queue.items[queue.head++]);
  }

 private:
  struct Queue {
    std::vector<xmlNode*> items;
    size_t head = 0;
  };
  std::unordered_map<std::string, Queue> queues_;
};

bool appendCopy(xmlNode* parent, const xmlNode* original, xmlNode** copy) {
  UniqueXmlNode node(xmlCopyNode(const_cast<xmlNode*>(original), 1));
  if (!node) return false;
  *copy = xmlAddChild(parent, node.release());
  return true;
}

std::string textOrEmpty(const xmlNode* item, const char* name) {
  return childText(item, name).value_or(std::string());
}

std::string withoutLineBreaks(std::string text) {
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  return text;
}

int countElementChildren(const xmlNode* node) {
  int count = 0;
  for (const xmlNode* child = node->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) ++count;
  }
  return count;
}

}  // namespace

std::optional<std::string> itemName(const xmlNode* item) { return childText(item, kNameElement); }

bool isContainer(const xmlNode* node) {
  return isElement(node, kBookmarksElement) || isElement(node, kChildrenElement);
}

xmlNode* findItem(const xmlNode* container, const char* kind,
                  const std::optional<std::string>& name) {
  if (!container) return nullptr;
  for (xmlNode* child = container->children; child; child = child->next) {
    if (isElement(child, kind) && itemName(child) == name) return child;
  }
  return nullptr;
}

bool addMissingItems(xmlNode* target, const xmlNode* source) {
  if (!isContainer(target) || !isContainer(source)) return false;
  FirstItemIndex index(target);
  for (const xmlNode* item = source->children; item; item = item->next) {
    Kind kind = kindOf(item);
    if (kind == Kind::kOther) continue;
    std::string key = keyOf(kind, itemName(item));
    xmlNode* match = index.find(key);
    if (!match) {
      xmlNode* copy = nullptr;
      if (!appendCopy(target, item, &copy)) return false;
      index.add(key, copy);
      continue;
    }
    if (kind != Kind::kFolder) continue;
    const xmlNode* sourceChildren = firstChildElement(item, kChildrenElement);
    xmlNode* targetChildren = firstChildElement(match, kChildrenElement);
    if (sourceChildren && targetChildren) {
      if (!addMissingItems(targetChildren, sourceChildren)) return false;
    } else if (sourceChildren) {
      xmlNode* copy = nullptr;
      if (!appendCopy(match, sourceChildren, &copy)) return false;
    }
  }
  return true;
}

bool removeListedItems(xmlNode* target, const xmlNode* listed) {
  if (!isContainer(target) || !isContainer(listed)) return false;
  ItemQueueIndex index(target);
  for (const xmlNode* item = listed->children; item; item = item->next) {
    Kind kind = kindOf(item);
    if (kind == Kind::kOther) continue;
    std::string key = keyOf(kind, itemName(item));
    xmlNode* match = index.front(key);
    if (!match) continue;
    if (kind == Kind::kBookmark) {
      index.removeFront(key);
      continue;
    }
    const xmlNode* listedChildren = firstChildElement(item, kChildrenElement);
    xmlNode* targetChildren = firstChildElement(match, kChildrenElement);
    if (!listedChildren || !targetChildren) continue;
    if (!removeListedItems(targetChildren, listedChildren)) return false;
    if (!hasElementChild(targetChildren)) index.removeFront(key);
  }
  return true;
}

int countItems(const xmlNode* container) {
  if (!container) return 0;
  int count = 0;
  for (const xmlNode* child = container->children; child; child = child->next) {
    Kind kind = kindOf(child);
    if (kind == Kind::kBookmark) {
      ++count;
    } else if (kind == Kind::kFolder) {
      count += 1 + countItems(firstChildElement(child, kChildrenElement));
    }
  }
  return count;
}

bool ordersEqual(const xmlNode* a, const xmlNode* b) {
  std::optional<std::string> orderA = attribute(a, kOrderAttribute);
  std::optional<std::string> orderB = attribute(b, kOrderAttribute);
  if (orderA && orderB) return *orderA == *orderB;
  if (orderA) return orderA->empty();
  if (orderB) return orderB->empty();
  return true;
}

bool bookmarksEqual(const xmlNode* a, const xmlNode* b) {
  if (!ordersEqual(a, b)) return false;
  for (const char* field : {kLinkElement, kDescriptionElement}) {
    if (textOrEmpty(a, field) != textOrEmpty(b, field)) return false;
  }
  // Embedded icons travel as Base64 that one party may wrap and another not.
  std::optional<std::string> iconA = childText(a, kIconFileElement);
  std::optional<std::string> iconB = childText(b, kIconFileElement);
  if (iconA && iconB) {
    if (withoutLineBreaks(*iconA) != withoutLineBreaks(*iconB)) return false;
  } else if (iconA.value_or(std::string()) != iconB.value_or(std::string())) {
    return false;
  }
  for (const char* field : {kIconIndexElement, kHotkeyElement}) {
    if (textOrEmpty(a, field) != textOrEmpty(b, field)) return false;
  }
  return true;
}

bool listsEqual(const xmlNode* a, const xmlNode* b) {
  if (!a || !b) return false;
  if (!ordersEqual(a, b)) return false;
  if (countElementChildren(a) != countElementChildren(b)) return false;
  FirstItemIndex index(b);
  for (const xmlNode* x = a->children; x; x = x->next) {
    Kind kind = kindOf(x);
    if (kind == Kind::kOther) continue;
    const xmlNode* y = index.find(keyOf(kind, itemName(x)));
    if (!y) return false;
    if (kind == Kind::kBookmark) {
      if (!bookmarksEqual(x, y)) return false;
      continue;
    }
    const xmlNode* childrenX = firstChildElement(x, kChildrenElement);
    const xmlNode* childrenY = firstChildElement(y, kChildrenElement);
    if (childrenX && childrenY) {
      if (!listsEqual(childrenX, childrenY)) return false;
    } else if (childrenX) {
      if (hasElementChild(childrenX)) return false;
    } else if (childrenY) {
      if (hasElementChild(childrenY)) return false;
    }
  }
  return true;
}

bool sameLists(const xmlNode* a, const xmlNode* b) {
  if (!a || !b) return false;
  return listsEqual(b, a);
}

}  // namespace exchange
