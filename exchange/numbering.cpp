#include "exchange/numbering.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

#include "exchange/document.h"
#include "exchange/list_ops.h"
#include "exchange/order_names.h"
#include "exchange/xml_owners.h"

namespace exchange {
namespace {

constexpr int64_t kMinOrder = std::numeric_limits<int32_t>::min();
constexpr int64_t kMaxOrder = std::numeric_limits<int32_t>::max();

int32_t clampOrder(int64_t value) {
  return static_cast<int32_t>(std::clamp(value, kMinOrder, kMaxOrder));
}

bool isItem(const xmlNode* node) {
  return isElement(node, kBookmarkElement) || isElement(node, kFolderElement);
}

// An order entry: kind, number and converted name.
struct OrderEntry {
  bool folder;
  int32_t position;
  std::string name;
};

std::string entryKey(bool folder, const std::string& name) { return (folder ? "f" : "b") + name; }

void orderLevel(xmlNode* container, const OrderNames& names) {
  std::vector<xmlNode*> items;
  std::vector<OrderEntry> entries;
  for (xmlNode* child = container->children; child; child = child->next) {
    if (!isItem(child)) continue;
    bool folder = isElement(child, kFolderElement);
    if (folder) {
      if (xmlNode* children = firstChildElement(child, kChildrenElement)) {
        orderLevel(children, names);
      }
    }
    items.push_back(child);
    entries.push_back({folder, orderValue(child), names.entryName(child)});
  }

  std::vector<size_t> sorted(entries.size());
  std::iota(sorted.begin(), sorted.end(), 0);
  // Any order of entries equal in both keys would do; a stable sort makes it
  // document order, so that the same list always gets the same numbers.
  std::stable_sort(sorted.begin(), sorted.end(), [&](size_t a, size_t b) {
    if (entries[a].position != entries[b].position) {
      return entries[a].position < entries[b].position;
    }
    return names.less(entries[a].name, entries[b].name);
  });

  // The first entry in sorted order of each kind and exact converted name.
  std::unordered_map<std::string, size_t> firstRank;
  for (size_t rank = 0; rank < sorted.size(); ++rank) {
    const OrderEntry& entry = entries[sorted[rank]];
    firstRank.emplace(entryKey(entry.folder, entry.name), rank);
  }
  for (size_t i = 0; i < items.size(); ++i) {
    setOrder(items[i],
             static_cast<int64_t>(firstRank.at(entryKey(entries[i].folder, entries[i].name))));
  }
}

}  // namespace

int32_t parseOrder(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kMaxOrder + 1) value = kMaxOrder + 1;
  }
  return clampOrder(negative ? -value : value);
}

int32_t orderValue(const xmlNode* element, int32_t absent) {
  UniqueXmlChar text(xmlGetProp(element, toXml(kOrderAttribute)));
  if (!text) return absent;
  return parseOrder(reinterpret_cast<const char*>(text.get()));
}

void setOrder(xmlNode* element, int64_t value) {
  setAttribute(element, kOrderAttribute, std::to_string(clampOrder(value)));
}

void orderContainer(xmlNode* container) {
  if (!container) return;
  OrderNames names;
  orderLevel(container, names);
}

int32_t renumberOrders(xmlNode* container, int32_t base) {
  if (!container) return -1;
  int64_t max = -1;

  if (base > 0) {
    for (xmlNode* child = container->children; child; child = child->next) {
      if (child->type != XML_ELEMENT_NODE) continue;
      int32_t value = orderValue(child);
      if (value < 0) continue;
      setOrder(child, int64_t{base} + value);
      max = std::max<int64_t>(max, clampOrder(int64_t{base} + value));
    }
  }

  // Each numbered folder with contents moves every number above its own up by
  // its item count. Moving all numbers above a value by the same amount keeps
  // the numbers' relative order, so which folders lie below a number never
  // changes while the folders are taken one after the other: the final number
  // of an item is its first number plus the counts of all such folders
  // numbered below it. Summing them through a sorted table keeps a container
  // of many folders from costing folders x items.
  struct Item {
    xmlNode* node;
    int32_t value;
    bool folder;
  };
  std::vector<Item> items;
  std::vector<std::pair<int32_t, int64_t>> folders;  // (number, item count)
  for (xmlNode* child = container->children; child; child = child->next) {
    if (!isItem(child)) continue;
    bool folder = isElement(child, kFolderElement);
    int32_t value = orderValue(child);
    items.push_back({child, value, folder});
    if (folder && value >= 0) {
      if (const xmlNode* children = firstChildElement(child, kChildrenElement)) {
        folders.emplace_back(value, countItems(children));
      }
    }
  }
  if (folders.empty()) {
    for (const Item& item : items) {
      if (!item.folder) max = std::max<int64_t>(max, item.value);
    }
  } else {
    std::sort(folders.begin(), folders.end());
    std::vector<int32_t> numbers;
    std::vector<int64_t> countsBelow(1, 0);  // countsBelow[k]: sum of the first k counts
    for (const auto& [number, count] : folders) {
      numbers.push_back(number);
      countsBelow.push_back(countsBelow.back() + count);
    }
    for (Item& item : items) {
      // A number is rewritten as soon as one folder lies below it, even when
      // that folder is empty (so "07" becomes "7").
      if (item.value > numbers.front()) {
        size_t below =
            std::lower_bound(numbers.begin(), numbers.end(), item.value) - numbers.begin();
        setOrder(item.node, item.value + countsBelow[below]);
        item.value = clampOrder(item.value + countsBelow[below]);
      }
      max = std::max<int64_t>(max, item.value);
    }
  }

  for (xmlNode* child = container->children; child; child = child->next) {
    if (!isElement(child, kFolderElement)) continue;
    int32_t value = orderValue(child);
    xmlNode* children = firstChildElement(child, kChildrenElement);
    if (value < 0 || !children) continue;
    max = std::max<int64_t>(max, renumberOrders(children, clampOrder(int64_t{value} + 1)));
  }
  return clampOrder(max);
}

}  // namespace exchange
