// Small helpers over the items of an exchange document as the Favorites
// store reads and writes them.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <string>

namespace favorites {

// A decimal integer read as C's atoi does (white space, sign, digits, stop at
// anything else; 0 without digits), clamped to the 32-bit range.
int32_t parseDecimal(const std::string& text);

// The "order" attribute read as a decimal integer; -1 when absent.
int32_t orderOf(const xmlNode* item);
// Sets the "order" attribute to a decimal number.
void setOrder(xmlNode* item, int32_t order);

// Whether a name taken from a document may become a file or folder name
// directly inside its parent folder: not empty, not "." or "..", and without
// "/", "\" or a zero unit, so that it can never reach outside the folder.
bool isSafeItemName(const std::u16string& name);

}  // namespace favorites
