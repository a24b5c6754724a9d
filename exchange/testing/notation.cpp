#include "exchange/testing/notation.h"

#include <sstream>
#include <vector>

#include "exchange/document.h"

namespace exchange::testing {
namespace {

struct Item {
  std::string name;
  bool hasName = true;
  std::string order;
  bool hasOrder = false;
  std::string link;
  bool hasLink = false;
  std::string description;
  bool hasDescription = false;
};

// Splits "name#order=link~description" at its markers.
Item splitItem(const std::string& token) {
  Item item;
  std::string* field = &item.name;
  for (char c : token) {
    switch (c) {
      case '#':
        field = &item.order;
        item.hasOrder = true;
        break;
      case '=':
        field = &item.link;
        item.hasLink = true;
        break;
      case '~':
        field = &item.description;
        item.hasDescription = true;
        break;
      default:
        field->push_back(c);
    }
  }
  if (item.name == "*") item.hasName = false;
  return item;
}

xmlNode* appendItem(xmlNode* container, const char* kind, const Item& item) {
  xmlNode* node = addElement(container, kind);
  if (item.hasOrder) setAttribute(node, kOrderAttribute, item.order);
  if (item.hasName) addTextElement(node, kNameElement, item.name);
  if (item.hasLink) addTextElement(node, kLinkElement, item.link);
  if (item.hasDescription) addTextElement(node, kDescriptionElement, item.description);
  return node;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads items into the container up to a "]" (nested) or the end (top level).
bool parseItems(const std::vector<std::string>& tokens, size_t& at, xmlNode* container,
                bool nested) {
  while (at < tokens.size()) {
    const std::string& token = tokens[at++];
    if (token == "]") return nested;
    if (token[0] == '?' && token.size() > 1) {
      addElement(container, token.substr(1).c_str());
      continue;
    }
    if (token[0] == '|') {
      Item item = splitItem(token.substr(1));
      if (!item.name.empty() || item.hasLink || item.hasDescription) return false;
      xmlNode* separator = addElement(container, kSeparatorElement);
      if (item.hasOrder) setAttribute(separator, kOrderAttribute, item.order);
    } else if (endsWith(token, ":[")) {
      xmlNode* folder =
          appendItem(container, kFolderElement, splitItem(token.substr(0, token.size() - 2)));
      if (!parseItems(tokens, at, addElement(folder, kChildrenElement), true)) return false;
    } else if (endsWith(token, ":!")) {
      appendItem(container, kFolderElement, splitItem(token.substr(0, token.size() - 2)));
    } else {
      if (token.find_first_of(":[]|") != std::string::npos) return false;
      appendItem(container, kBookmarkElement, splitItem(token));
    }
  }
  return !nested;
}

void describeItem(const xmlNode* item, std::string& out) {
  std::optional<std::string> name = childText(item, kNameElement);
  out += name ? *name : "*";
  if (auto order = attribute(item, kOrderAttribute)) out += "#" + *order;
  if (auto link = childText(item, kLinkElement)) out += "=" + *link;
  if (auto description = childText(item, kDescriptionElement)) out += "~" + *description;
}

void describeItems(const xmlNode* container, std::string& out) {
  for (const xmlNode* child = container->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (!out.empty() && out.back() != ' ') out += ' ';
    if (isElement(child, kBookmarkElement)) {
      describeItem(child, out);
    } else if (isElement(child, kFolderElement)) {
      describeItem(child, out);
      const xmlNode* children = firstChildElement(child, kChildrenElement);
      if (!children) {
        out += ":!";
      } else {
        out += ":[ ";
        describeItems(children, out);
        if (out.back() != ' ') out += ' ';
        out += "]";
      }
    } else if (isElement(child, kSeparatorElement)) {
      out += "|";
      if (auto order = attribute(child, kOrderAttribute)) out += "#" + *order;
    } else {
      out += "?" + toString(child->name);
    }
  }
}

}  // namespace

UniqueXmlNode parseList(const std::string& notation) {
  std::vector<std::string> tokens;
  std::istringstream words(notation);
  for (std::string token; words >> token;) tokens.push_back(token);
  UniqueXmlNode root(xmlNewNode(nullptr, toXml(kBookmarksElement)));
  size_t at = 0;
  if (!parseItems(tokens, at, root.get(), false)) return nullptr;
  return root;
}

std::string describeList(const xmlNode* container) {
  std::string out;
  if (container) describeItems(container, out);
  return out;
}

}  // namespace exchange::testing
