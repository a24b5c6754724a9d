#include "exchange/ordering.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

#include "exchange/document.h"
#include "exchange/duplicates.h"
#include "exchange/list_ops.h"
#include "exchange/merge.h"
#include "exchange/numbering.h"
#include "exchange/order_names.h"

namespace exchange {
namespace {

bool isItem(const xmlNode* node) {
  return isElement(node, kBookmarkElement) || isElement(node, kFolderElement);
}

xmlNode* contentsOf(const xmlNode* folder) {
  return isElement(folder, kFolderElement) ? firstChildElement(folder, kChildrenElement) : nullptr;
}

// A name entry: kind and converted name.
struct NameEntry {
  bool folder;
  std::string name;
};

std::string entryKey(const NameEntry& entry) { return (entry.folder ? "f" : "b") + entry.name; }

// Numbers the items by the rank of the first entry in sorted order with their
// kind and exact converted name: items[i] belongs to entries[i], and sorted
// lists entry indexes in sorted order.
void numberByRank(const std::vector<xmlNode*>& items, const std::vector<NameEntry>& entries,
                  const std::vector<size_t>& sorted, int64_t first) {
  std::unordered_map<std::string, size_t> firstRank;
  for (size_t rank = 0; rank < sorted.size(); ++rank) {
    firstRank.emplace(entryKey(entries[sorted[rank]]), rank);
  }
  for (size_t i = 0; i < items.size(); ++i) {
    setOrder(items[i], first + static_cast<int64_t>(firstRank.at(entryKey(entries[i]))));
  }
}

void sortLevel(xmlNode* container, const OrderNames& names) {
  bool marked = false;
  std::vector<xmlNode*> items;
  for (xmlNode* child = container->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (orderValue(child) == kSortByNameMark) marked = true;
    if (xmlNode* children = contentsOf(child)) sortLevel(children, names);
    if (isItem(child)) items.push_back(child);
  }
  if (!marked) return;

  std::vector<NameEntry> entries;
  for (xmlNode* item : items) {
    entries.push_back({isElement(item, kFolderElement), names.entryName(item)});
  }
  std::vector<size_t> sorted(entries.size());
  std::iota(sorted.begin(), sorted.end(), 0);
  // Equal names have no defined order; a stable sort keeps document order.
  std::stable_sort(sorted.begin(), sorted.end(), [&](size_t a, size_t b) {
    return names.less(entries[a].name, entries[b].name);
  });
  numberByRank(items, entries, sorted, 0);
}

void placeLevel(xmlNode* container, const OrderNames& names) {
  int64_t max = -1;
  std::vector<xmlNode*> unplaced;
  std::vector<NameEntry> entries;
  for (xmlNode* child = container->children; child; child = child->next) {
    if (!isItem(child)) continue;
    int32_t position = orderValue(child);
    max = std::max<int64_t>(max, position);
    if (position < 0) {
      unplaced.push_back(child);
      entries.push_back({isElement(child, kFolderElement), names.entryName(child)});
    }
    if (xmlNode* children = contentsOf(child)) placeLevel(children, names);
  }
  if (unplaced.empty()) return;

  std::vector<size_t> sorted(entries.size());
  std::iota(sorted.begin(), sorted.end(), 0);
  std::stable_sort(sorted.begin(), sorted.end(), [&](size_t a, size_t b) {
    if (entries[a].folder != entries[b].folder) return entries[a].folder;
    return names.less(entries[a].name, entries[b].name);
  });
  numberByRank(unplaced, entries, sorted, max + 1);
}

// The pre-order walk of resolveDuplicateOrders: a folder's own number is met
// before its contents.
void collectNumbers(const xmlNode* container, std::map<int32_t, int64_t>& counts,
                    std::unordered_map<int32_t, std::vector<xmlNode*>>& holders) {
  for (xmlNode* child = container->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    int32_t value = orderValue(child);
    if (value >= 0) {
      ++counts[value];
      if (isItem(child)) holders[value].push_back(child);
    }
    if (const xmlNode* children = contentsOf(child)) collectNumbers(children, counts, holders);
  }
}

}  // namespace

void sortNamedContainers(xmlNode* container) {
  if (!container) return;
  OrderNames names;
  sortLevel(container, names);
}

void placeUnorderedItems(xmlNode* container) {
  if (!container) return;
  OrderNames names;
  placeLevel(container, names);
}

void resolveDuplicateOrders(xmlNode* root) {
  if (!root) return;
  // The count of every number met, kept sparse: a single huge number must not
  // make a table of that size.
  std::map<int32_t, int64_t> counts;
  // The bookmarks and folders holding each number, in walk order. Renumbering
  // one gives it a number above every counted one, so the next search for the
  // same number finds the next holder.
  std::unordered_map<int32_t, std::vector<xmlNode*>> holders;
  collectNumbers(root, counts, holders);
  if (counts.empty()) return;

  int64_t next = int64_t{counts.rbegin()->first} + 1;
  for (const auto& [value, count] : counts) {
    if (count < 2) continue;
    const std::vector<xmlNode*>& items = holders[value];
    size_t moves = std::min<size_t>(static_cast<size_t>(count - 1), items.size());
    for (size_t i = 0; i < moves; ++i) setOrder(items[i], next++);
  }
}

void prepareOrders(xmlNode* root) {
  sortNamedContainers(root);
  placeUnorderedItems(root);
  renumberOrders(root, 0);
  resolveDuplicateOrders(root);
}

UniqueXmlNode unionWithCache(const xmlNode* local, const xmlNode* cache, const std::string& applicationName) {
  UniqueXmlNode result = deepCopy(local);
  if (!result) return nullptr;
  uniteDuplicates(result.get(), applicationName);
  if (cache) {
    // Adding sees only the first of the target's items of a key and drops
    // the source's later ones, so both sides are united before.
    UniqueXmlNode united = deepCopy(cache);
    if (!united) return nullptr;
    uniteDuplicates(united.get(), applicationName);
    if (!addMissingItems(result.get(), united.get())) return nullptr;
  }
  orderContainer(result.get());
  renumberOrders(result.get(), 0);
  return result;
}

}  // namespace exchange
