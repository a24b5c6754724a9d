// Exact text of a node and its subtree, for tests that must see every byte.
#pragma once

#include <libxml/tree.h>

#include <string>

namespace exchange::testing {

std::string nodeText(const xmlNode* node);

// Renames the first element called `from` in a pre-order walk of the tree;
// false when there is none.
bool renameFirstElement(xmlNode* root, const char* from, const char* to);

}  // namespace exchange::testing
