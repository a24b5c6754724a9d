// The list operations find items through indexes built per call. These tests
// hold them to the plain description they implement: each operation is
// written out here once more as a linear scan in document order (findItem,
// first match wins) and both versions run on the same random lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "exchange/document.h"
#include "exchange/list_ops.h"
#include "exchange/merge.h"
#include "exchange/numbering.h"
#include "exchange/order_names.h"
#include "exchange/ordering.h"
#include "exchange/testing/notation.h"
#include "exchange/testing/xml_text.h"

namespace exchange {
namespace {

using testing::nodeText;

bool isItem(const xmlNode* node) {
  return isElement(node, kBookmarkElement) || isElement(node, kFolderElement);
}
const char* kindOf(const xmlNode* node) {
  return isElement(node, kFolderElement) ? kFolderElement : kBookmarkElement;
}
xmlNode* contents(const xmlNode* node) { return firstChildElement(node, kChildrenElement); }
void appendCopy(xmlNode* parent, const xmlNode* node) {
  xmlAddChild(parent, xmlCopyNode(const_cast<xmlNode*>(node), 1));
}
void unlinkAndFree(xmlNode* node) { UniqueXmlNode doomed(node); }

// --- The operations as linear scans. ---

bool scanAdd(xmlNode* target, const xmlNode* source) {
  if (!isContainer(target) || !isContainer(source)) return false;
  for (const xmlNode* x = source->children; x; x = x->next) {
    if (!isItem(x)) continue;
    xmlNode* y = findItem(target, kindOf(x), itemName(x));
    if (!y) {
      appendCopy(target, x);
    } else if (isElement(x, kFolderElement)) {
      if (contents(x) && contents(y)) {
        if (!scanAdd(contents(y), contents(x))) return false;
      } else if (contents(x)) {
        appendCopy(y, contents(x));
      }
    }
  }
  return true;
}

bool scanRemove(xmlNode* target, const xmlNode* listed) {
  if (!isContainer(target) || !isContainer(listed)) return false;
  for (const xmlNode* x = listed->children; x; x = x->next) {
    if (!isItem(x)) continue;
    xmlNode* y = findItem(target, kindOf(x), itemName(x));
    if (!y) continue;
    if (isElement(x, kBookmarkElement)) {
      unlinkAndFree(y);
    } else if (contents(x) && contents(y)) {
      if (!scanRemove(contents(y), contents(x))) return false;
      if (!hasElementChild(contents(y))) unlinkAndFree(y);
    }
  }
  return true;
}

bool scanEqual(const xmlNode* a, const xmlNode* b) {
  if (!ordersEqual(a, b)) return false;
  auto elements = [](const xmlNode* n) {
    int count = 0;
    for (const xmlNode* c = n->children; c; c = c->next) count += c->type == XML_ELEMENT_NODE;
    return count;
  };
  if (elements(a) != elements(b)) return false;
  for (const xmlNode* x = a->children; x; x = x->next) {
    if (!isItem(x)) continue;
    const xmlNode* y = findItem(b, kindOf(x), itemName(x));
    if (!y) return false;
    if (isElement(x, kBookmarkElement)) {
      if (!bookmarksEqual(x, y)) return false;
    } else if (contents(x) && contents(y)) {
      if (!scanEqual(contents(x), contents(y))) return false;
    } else if (contents(x) && hasElementChild(contents(x))) {
      return false;
    } else if (contents(y) && hasElementChild(contents(y))) {
      return false;
    }
  }
  return true;
}

struct Entry {
  bool folder;
  int position;
  std::string name;
};

// Sets each item's order to `first` + the index of the first sorted entry with
// its kind and name, found by scanning.
void scanNumber(const std::vector<xmlNode*>& items, const std::vector<Entry>& sorted,
                const OrderNames& names, int64_t first) {
  for (xmlNode* item : items) {
    bool folder = isElement(item, kFolderElement);
    std::string name = names.entryName(item);
    for (size_t i = 0; i < sorted.size(); ++i) {
      if (sorted[i].folder == folder && sorted[i].name == name) {
        setOrder(item, first + static_cast<int64_t>(i));
        break;
      }
    }
  }
}

void scanOrder(xmlNode* container, const OrderNames& names) {
  std::vector<xmlNode*> items;
  std::vector<Entry> entries;
  for (xmlNode* child = container->children; child; child = child->next) {
    if (!isItem(child)) continue;
    if (xmlNode* c = isElement(child, kFolderElement) ? contents(child) : nullptr) {
      scanOrder(c, names);
    }
    items.push_back(child);
    entries.push_back(
        {isElement(child, kFolderElement), orderValue(child), names.entryName(child)});
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.position != b.position) return a.position < b.position;
    return names.less(a.name, b.name);
  });
  scanNumber(items, entries, names, 0);
}

int scanRenumber(xmlNode* p, int base) {
  int max = -1;
  if (base > 0) {
    for (xmlNode* c = p->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE || !attribute(c, kOrderAttribute)) continue;
      int v = orderValue(c);
      if (v < 0) continue;
      setOrder(c, base + v);
      max = std::max(max, base + v);
    }
  }
  for (xmlNode* f = p->children; f; f = f->next) {
    if (isElement(f, kFolderElement) && orderValue(f) >= 0 && contents(f)) {
      int v = orderValue(f);
      int count = countItems(contents(f));
      for (xmlNode* x = p->children; x; x = x->next) {
        if (!isItem(x)) continue;
        int w = orderValue(x);
        if (w > v) {
          setOrder(x, w + count);
          w += count;
        }
        max = std::max(max, w);
      }
      max = std::max(max, v);
    } else if (isElement(f, kBookmarkElement)) {
      max = std::max(max, orderValue(f));
    }
  }
  for (xmlNode* f = p->children; f; f = f->next) {
    if (isElement(f, kFolderElement) && orderValue(f) >= 0 && contents(f)) {
      max = std::max(max, scanRenumber(contents(f), orderValue(f) + 1));
    }
  }
  return max;
}

void scanCount(const xmlNode* container, std::vector<int>& table) {
  for (const xmlNode* c = container->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    int v = orderValue(c);
    if (v >= 0) {
      if (table.size() < static_cast<size_t>(v) + 1) table.resize(v + 1);
      ++table[v];
    }
    if (isElement(c, kFolderElement) && contents(c)) scanCount(contents(c), table);
  }
}

xmlNode* scanFirstWithOrder(xmlNode* container, int v) {
  for (xmlNode* c = container->children; c; c = c->next) {
    if (isItem(c) && orderValue(c) == v) return c;
    if (isElement(c, kFolderElement) && contents(c)) {
      if (xmlNode* found = scanFirstWithOrder(contents(c), v)) return found;
    }
  }
  return nullptr;
}

void scanResolve(xmlNode* root) {
  std::vector<int> table;
  scanCount(root, table);
  int next = static_cast<int>(table.size());
  for (size_t v = 0; v < table.size(); ++v) {
    for (int k = 1; k < table[v]; ++k) {
      if (xmlNode* found = scanFirstWithOrder(root, static_cast<int>(v))) setOrder(found, next++);
    }
  }
}

void scanPlace(xmlNode* p, const OrderNames& names) {
  int max = -1;
  std::vector<xmlNode*> unplaced;
  std::vector<Entry> entries;
  for (xmlNode* c = p->children; c; c = c->next) {
    if (!isItem(c)) continue;
    max = std::max(max, orderValue(c));
    if (orderValue(c) < 0) {
      unplaced.push_back(c);
      entries.push_back({isElement(c, kFolderElement), 0, names.entryName(c)});
    }
    if (isElement(c, kFolderElement) && contents(c)) scanPlace(contents(c), names);
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.folder != b.folder) return a.folder;
    return names.less(a.name, b.name);
  });
  scanNumber(unplaced, entries, names, max + 1);
}

void scanSortNamed(xmlNode* p, const OrderNames& names) {
  bool marked = false;
  std::vector<xmlNode*> items;
  std::vector<Entry> entries;
  for (xmlNode* c = p->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (orderValue(c) == -5) marked = true;
    if (isElement(c, kFolderElement) && contents(c)) scanSortNamed(contents(c), names);
    if (isItem(c)) {
      items.push_back(c);
      entries.push_back({isElement(c, kFolderElement), 0, names.entryName(c)});
    }
  }
  if (!marked) return;
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const Entry& a, const Entry& b) { return names.less(a.name, b.name); });
  scanNumber(items, entries, names, 0);
}

// --- Random lists. ---

// Few names, so that keys collide often; orders of every form.
std::string randomItems(std::mt19937& rng, int depth, int maxItems) {
  static const char* kNames[] = {"a", "b", "A", "c", "\xC3\xA9", "\xC3\x89", "*"};
  static const char* kOrders[] = {"",   "",   "",    "#0",  "#1",  "#2", "#3",
                                  "#4", "#7", "#-5", "#-1", "#07", "#x"};
  static const char* kLinks[] = {"", "", "=1", "=2"};
  std::uniform_int_distribution<int> count(0, maxItems);
  std::string out;
  for (int n = count(rng); n > 0; --n) {
    int kind = std::uniform_int_distribution<int>(0, 19)(rng);
    std::string order = kOrders[std::uniform_int_distribution<int>(0, 12)(rng)];
    std::string name = kNames[std::uniform_int_distribution<int>(0, 6)(rng)];
    if (kind < 2) {
      out += "|" + order + " ";
    } else if (kind < 3) {
      out += "?other ";
    } else if (kind < 9 && depth < 3) {
      // Some folders hold a description; without `children` it is all they hold.
      std::string description = std::uniform_int_distribution<int>(0, 3)(rng) == 0 ? "~d" : "";
      if (std::uniform_int_distribution<int>(0, 6)(rng) == 0) {
        out += name + order + description + ":! ";
      } else {
        out += name + order + description + ":[ " + randomItems(rng, depth + 1, maxItems - 1) + "] ";
      }
    } else {
      out += name + order + kLinks[std::uniform_int_distribution<int>(0, 3)(rng)] + " ";
    }
  }
  return out;
}

// The same list with the element children of every container reversed.
void reverseAll(xmlNode* container) {
  std::vector<xmlNode*> children;
  for (xmlNode* c = container->children; c; c = c->next) children.push_back(c);
  for (xmlNode* c : children) xmlUnlinkNode(c);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    xmlAddChild(container, *it);
    if (isElement(*it, kFolderElement) && contents(*it)) reverseAll(contents(*it));
  }
}

constexpr int kRounds = 400;

TEST(ScanEquivalence, AddRemoveAndCompare) {
  std::mt19937 rng(20050307);
  for (int round = 0; round < kRounds; ++round) {
    std::string left = randomItems(rng, 0, 7);
    std::string right = randomItems(rng, 0, 7);
    SCOPED_TRACE("left: " + left + "\nright: " + right);
    UniqueXmlNode a = testing::parseList(left);
    UniqueXmlNode b = testing::parseList(right);
    ASSERT_TRUE(a && b);

    UniqueXmlNode indexed = deepCopy(a.get());
    UniqueXmlNode scanned = deepCopy(a.get());
    EXPECT_EQ(addMissingItems(indexed.get(), b.get()), scanAdd(scanned.get(), b.get()));
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));

    indexed = deepCopy(a.get());
    scanned = deepCopy(a.get());
    EXPECT_EQ(removeListedItems(indexed.get(), b.get()), scanRemove(scanned.get(), b.get()));
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));

    EXPECT_EQ(listsEqual(a.get(), b.get()), scanEqual(a.get(), b.get()));
    UniqueXmlNode reversed = deepCopy(a.get());
    reverseAll(reversed.get());
    EXPECT_EQ(listsEqual(a.get(), reversed.get()), scanEqual(a.get(), reversed.get()));
    UniqueXmlNode merged = deepCopy(a.get());
    scanAdd(merged.get(), b.get());
    EXPECT_EQ(listsEqual(merged.get(), a.get()), scanEqual(merged.get(), a.get()));
  }
}

TEST(ScanEquivalence, NumberingAndOrdering) {
  std::mt19937 rng(19700101);
  OrderNames names;
  for (int round = 0; round < kRounds; ++round) {
    std::string text = randomItems(rng, 0, 8);
    int base = std::uniform_int_distribution<int>(-1, 3)(rng);
    SCOPED_TRACE(text + " base " + std::to_string(base));
    UniqueXmlNode list = testing::parseList(text);
    ASSERT_TRUE(list);

    UniqueXmlNode indexed = deepCopy(list.get());
    UniqueXmlNode scanned = deepCopy(list.get());
    EXPECT_EQ(renumberOrders(indexed.get(), base), scanRenumber(scanned.get(), base));
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));

    indexed = deepCopy(list.get());
    scanned = deepCopy(list.get());
    orderContainer(indexed.get());
    scanOrder(scanned.get(), names);
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));
    EXPECT_EQ(renumberOrders(indexed.get(), 0), scanRenumber(scanned.get(), 0));
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));

    indexed = deepCopy(list.get());
    scanned = deepCopy(list.get());
    resolveDuplicateOrders(indexed.get());
    scanResolve(scanned.get());
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));

    indexed = deepCopy(list.get());
    scanned = deepCopy(list.get());
    placeUnorderedItems(indexed.get());
    scanPlace(scanned.get(), names);
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));

    indexed = deepCopy(list.get());
    scanned = deepCopy(list.get());
    sortNamedContainers(indexed.get());
    scanSortNamed(scanned.get(), names);
    EXPECT_EQ(nodeText(indexed.get()), nodeText(scanned.get()));
  }
}

}  // namespace
}  // namespace exchange
