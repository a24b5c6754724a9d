#include "exchange/duplicates.h"

#include <optional>
#include <unordered_map>
#include <vector>

#include "exchange/document.h"
#include "exchange/list_ops.h"
#include "exchange/log_sink.h"
#include "exchange/xml_owners.h"

namespace exchange {
namespace {

bool isItem(const xmlNode* node) { return isElement(node, kBookmarkElement) || isElement(node, kFolderElement); }

// The kind, then "=" and the name when there is one, so that an absent name
// and the empty name stay apart, as the list operations keep them.
std::string keyOf(const xmlNode* item, const std::optional<std::string>& name) {
  std::string key(1, isElement(item, kFolderElement) ? 'f' : 'b');
  if (name) key += '=' + *name;
  return key;
}

std::string shownName(const std::optional<std::string>& name) { return name ? *name : "(no name)"; }

// Moves the items of `later` into `first`: its whole `children` element when
// `first` has none, else the items one by one to the end of first's.
void moveContents(xmlNode* first, xmlNode* later) {
  xmlNode* from = firstChildElement(later, kChildrenElement);
  if (!from) return;
  xmlNode* into = firstChildElement(first, kChildrenElement);
  if (!into) {
    xmlUnlinkNode(from);
    xmlAddChild(first, from);
    return;
  }
  std::vector<xmlNode*> items;
  for (xmlNode* child = from->children; child; child = child->next) {
    if (isItem(child)) items.push_back(child);
  }
  for (xmlNode* item : items) {
    xmlUnlinkNode(item);
    xmlAddChild(into, item);
  }
}

// `path` is the folder's path as the log shows it: "\" for the top, else
// "\Name\Name".
int uniteLevel(xmlNode* container, const std::string& path, const std::string& applicationName) {
  int removed = 0;
  std::unordered_map<std::string, xmlNode*> firstOfKey;
  for (xmlNode* child = container->children; child;) {
    xmlNode* next = child->next;
    if (isItem(child)) {
      const std::optional<std::string> name = itemName(child);
      auto [first, isFirst] = firstOfKey.emplace(keyOf(child, name), child);
      if (!isFirst) {
        if (isElement(child, kFolderElement)) {
          moveContents(first->second, child);
          writeLog(applicationName, "Folder \"" + shownName(name) + "\" appears more than once in \"" + path +
                                        "\"; their contents are united in the first.\n");
        } else {
          writeLog(applicationName, "Bookmark \"" + shownName(name) + "\" appears more than once in \"" + path +
                                        "\"; the first is kept, the one linking to \"" +
                                        childText(child, kLinkElement).value_or("") + "\" is left out.\n");
        }
        UniqueXmlNode doomed(child);
        ++removed;
      }
    }
    child = next;
  }
  for (xmlNode* child = container->children; child; child = child->next) {
    if (!isElement(child, kFolderElement)) continue;
    if (xmlNode* contents = firstChildElement(child, kChildrenElement)) {
      const std::string inner = (path == "\\" ? "" : path) + "\\" + shownName(itemName(child));
      removed += uniteLevel(contents, inner, applicationName);
    }
  }
  return removed;
}

}  // namespace

int uniteDuplicates(xmlNode* container, const std::string& applicationName) {
  if (!isContainer(container)) return 0;
  return uniteLevel(container, "\\", applicationName);
}

}  // namespace exchange
